#include "effects/effects.h"
#include "framework/registry.h"

namespace quor {

// The suite's registration order. It is part of the behaviour: an instance
// configured without a name wraps the last effect here. The full order is
// Limiter, RC Filter, Tremolo, Phaser, mDelay, Rectifier, Ringmod, Quantizer,
// Clipper, Reverb, Gate, Follower, Vocal, Compressor, Multiplier; an effect
// takes its place in it when it is built.
void registerSuiteEffects(EffectRegistry& registry) {
    registry.registerEffect("Limiter", createLimiter);
    registry.registerEffect("RC Filter", createRcFilter);
    registry.registerEffect("Tremolo", createTremolo);
    registry.registerEffect("Phaser", createPhaser);
    registry.registerEffect("mDelay", createMDelay);
    registry.registerEffect("Rectifier", createRectifier);
    registry.registerEffect("Ringmod", createRingmod);
    registry.registerEffect("Quantizer", createQuantizer);
    registry.registerEffect("Clipper", createClipper);
    registry.registerEffect("Reverb", createReverb);
    registry.registerEffect("Gate", createGate);
    registry.registerEffect("Follower", createFollower);
    registry.registerEffect("Vocal", createVocal);
    registry.registerEffect("Compressor", createCompressor);
    registry.registerEffect("Multiplier", createMultiplier);
}

} // namespace quor
