#pragma once

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace quor {

// Sets flush-to-zero for the scope of one processing call and restores the
// caller's bit afterwards; denormals-are-zero and the rest are left alone.
class FlushToZeroScope {
public:
#if defined(__SSE__) || defined(__x86_64__)
    FlushToZeroScope() : saved(_mm_getcsr() & kFlushToZero) { _mm_setcsr(_mm_getcsr() | kFlushToZero); }
    ~FlushToZeroScope() { _mm_setcsr((_mm_getcsr() & ~kFlushToZero) | saved); }

private:
    static constexpr unsigned kFlushToZero = 0x8000u; // MXCSR bit 15
    unsigned saved;
#elif defined(__aarch64__)
    FlushToZeroScope() {
        unsigned long fpcr;
        __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
        saved = fpcr & kFlushToZero;
        __asm__ __volatile__("msr fpcr, %0" : : "r"(fpcr | kFlushToZero));
    }
    ~FlushToZeroScope() {
        unsigned long fpcr;
        __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
        __asm__ __volatile__("msr fpcr, %0" : : "r"((fpcr & ~kFlushToZero) | saved));
    }

private:
    static constexpr unsigned long kFlushToZero = 1ul << 24; // FPCR.FZ
    unsigned long saved;
#endif
    FlushToZeroScope(const FlushToZeroScope&) = delete;
    FlushToZeroScope& operator=(const FlushToZeroScope&) = delete;
};

} // namespace quor
