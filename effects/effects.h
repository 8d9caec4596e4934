// Create functions of the suite's effects. Each allocates one effect object;
// the instance applies its defaults after installing the host link.
#pragma once

namespace quor {

class HostedEffect;

HostedEffect* createRcFilter();
HostedEffect* createTremolo();
HostedEffect* createPhaser();
HostedEffect* createMDelay();
HostedEffect* createRingmod();
HostedEffect* createReverb();

} // namespace quor
