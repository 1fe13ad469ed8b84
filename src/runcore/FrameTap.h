#pragma once
// A listener a front end may put between a run's serial engine and its hub, to see every frame
// sent and every byte received (the command line's --trace).

#include <cstdint>
#include <span>

#include "protocol/PortEngine.h"

namespace kestro {

class IFrameTap : public IPortOwner {
public:
    // Who gets the bytes and errors after they are noted; set before the port opens.
    virtual void SetNext(IPortOwner* next) = 0;
    // Each frame as it is handed to the engine.
    virtual void OnSent(std::span<const std::uint8_t> frame) = 0;
    // The run has ended: whatever is held back goes out.
    virtual void Flush() = 0;
};

}  // namespace kestro
