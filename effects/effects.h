// Create functions of the suite's effects. Each allocates one effect object;
// the instance applies its defaults after installing the host link.
#pragma once

namespace quor {

class HostedEffect;

HostedEffect* createLimiter();
HostedEffect* createRcFilter();
HostedEffect* createTremolo();
HostedEffect* createPhaser();
HostedEffect* createMDelay();
HostedEffect* createRectifier();
HostedEffect* createRingmod();
HostedEffect* createQuantizer();
HostedEffect* createClipper();
HostedEffect* createReverb();
HostedEffect* createGate();
HostedEffect* createFollower();
HostedEffect* createVocal();
HostedEffect* createCompressor();
HostedEffect* createMultiplier();

} // namespace quor
