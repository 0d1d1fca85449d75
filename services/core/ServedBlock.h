#pragma once
// The block as a service holds it for its whole run: shared, mapped, at least 64 bytes.

#include "Log.h"
#include "link/ConnectBlock.h"
#include "platform/SharedMemory.h"

#include <optional>
#include <string>

namespace service {

class ServedBlock {
public:
    // Nothing, with a "cannot serve" line in the log, when the block cannot be had.
    static std::optional<ServedBlock> Open(const std::string& name, Log& log);

    ConnectBlock* Block() const { return static_cast<ConnectBlock*>(view_.Data()); }
    // Another process shrank the block: the view is private memory now, so nobody would see
    // what we serve.
    bool Lost() const { return view_.IsPrivate(); }

private:
    ServedBlock(platform::SharedMemory memory, platform::MappedView view)
        : memory_(std::move(memory)), view_(std::move(view))
    {
    }

    platform::SharedMemory memory_;
    platform::MappedView view_;
};

} // namespace service
