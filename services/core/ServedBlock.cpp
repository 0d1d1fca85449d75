#include "ServedBlock.h"

namespace service {

std::optional<ServedBlock> ServedBlock::Open(const std::string& name, Log& log)
{
    auto memory = platform::SharedMemory::CreateOrOpen(name, block::kSize);
    if (!memory.IsOpen() || memory.IsPrivate()) {
        log.Start("cannot serve: the block " + name + " cannot be shared");
        return std::nullopt;
    }
    auto view = platform::MappedView::Map(memory);
    if (view.Data() == nullptr || view.Size() < block::kSize) {
        log.Start("cannot serve: the block " + name + " cannot be mapped");
        return std::nullopt;
    }
    return ServedBlock(std::move(memory), std::move(view));
}

} // namespace service
