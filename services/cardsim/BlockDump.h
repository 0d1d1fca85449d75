#pragma once
// The block decoded for people: the command and status words, the raw bytes, and the
// payload read in each of its layouts (which one counts depends on the codes).

#include "CommandDecoder.h"

#include <string>

namespace cardsim {

using namespace service;   // the simulator speaks the service core's language

class BlockDump {
public:
    static std::string Describe(const BlockBytes& block);
    static std::string CommandName(uint8_t code);
    static std::string StatusName(uint8_t code);
};

} // namespace cardsim
