#pragma once

#include <cstdint>

namespace quor {

// The effect's way back to the instance that hosts it.
class HostLink {
public:
    virtual ~HostLink() = default;
    // Sets a parameter as if the host had, then tells the host it moved.
    virtual void setParameterAutomated(std::int32_t index, float normalisedValue) = 0;
    // Pushes every value to an editor; there is none, so it has nothing to do.
    virtual void refreshEditor() = 0;
};

} // namespace quor
