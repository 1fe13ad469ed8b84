#include "protocol/CommandTable.h"

#include <stdexcept>

namespace kestro {

namespace {
// Short names for the table's discipline column.
constexpr auto Counted = Discipline::Counted;
constexpr auto Resend = Discipline::ResendWhileSilent;
constexpr auto NakRetry = Discipline::NakRetried;
}  // namespace

// clang-format off
const std::array<CommandSpec, REQ_COUNT> kCommandTable = {{
//   id                 name                group          op    len reply             discipline  N  T     S    S'   P1   P2    P3    codeOnly
    {REQ_DETECT,       "REQ_DETECT",       GROUP_DEVICE,  0x92, 6,  RSP_DETECT,       Counted,   5, 500,  100, 100, 0,   0,    0,    false},
    {REQ_BATTERY,      "REQ_BATTERY",      GROUP_DEVICE,  0x7C, 6,  RSP_BATTERY,      Counted,   5, 500,  50,  50,  0,   0,    0,    false},
    {REQ_MODEL,        "REQ_MODEL",        GROUP_DEVICE,  0x74, 6,  RSP_MODEL,        Counted,   5, 500,  50,  50,  0,   0,    0,    false},
    {REQ_FW_VERSION,   "REQ_FW_VERSION",   GROUP_DEVICE,  0x70, 6,  RSP_FW_VERSION,   Counted,   5, 100,  30,  30,  0,   0,    0,    false},
    {REQ_SERIAL,       "REQ_SERIAL",       GROUP_DEVICE,  0x76, 6,  RSP_SERIAL,       Counted,   3, 100,  50,  50,  0,   0,    0,    false},
    {REQ_CP_CHECK,     "REQ_CP_CHECK",     GROUP_DEVICE,  0x22, 6,  RSP_ACK,          Resend,    7, 1000, 100, 0,   0,   0,    1000, false},
    {REQ_CP_READ,      "REQ_CP_READ",      GROUP_DEVICE,  0x02, 10, RSP_CP_DATA,      Counted,   3, 200,  50,  50,  0,   0,    0,    false},
    {REQ_CP_PREPARE,   "REQ_CP_PREPARE",   GROUP_DEVICE,  0x23, 6,  RSP_ACK,          Resend,    7, 1000, 100, 0,   0,   0,    0,    false},
    {REQ_CP_RESTORE,   "REQ_CP_RESTORE",   GROUP_DEVICE,  0x20, 6,  RSP_ACK,          NakRetry,  7, 300,  20,  0,   0,   0,    1000, false},
    {REQ_CP_WRITE,     "REQ_CP_WRITE",     GROUP_DEVICE,  0x01, 11, RSP_ACK,          NakRetry,  7, 100,  50,  0,   0,   0,    0,    false},
    {REQ_RESET_MODE,   "REQ_RESET_MODE",   GROUP_DEVICE,  0x72, 6,  RSP_ACK,          Resend,    7, 1000, 100, 0,   0,   0,    2500, false},
    {REQ_UPDATE_START, "REQ_UPDATE_START", GROUP_PROGRAM, 0x67, 6,  RSP_ACK,          Counted,   5, 1000, 50,  0,   100, 1000, 2000, false},
    {REQ_SELF_PROGRAM, "REQ_SELF_PROGRAM", GROUP_PROGRAM, 0x60, 6,  RSP_SELF_PROGRAM, Counted,   3, 100,  20,  0,   0,   0,    0,    false},
    {REQ_ERASE_FLASH,  "REQ_ERASE_FLASH",  GROUP_PROGRAM, 0x63, 6,  RSP_ERASE_FLASH,  Counted,   3, 1000, 20,  0,   100, 0,    0,    false},
    {REQ_WRITE_RECORD, "REQ_WRITE_RECORD", GROUP_PROGRAM, 0x62, 24, RSP_RECORD,       Counted,   6, 100,  20,  0,   0,   0,    0,    false},
    {REQ_BOOT_ERASE,   "REQ_BOOT_ERASE",   GROUP_PROGRAM, 0x64, 6,  RSP_BOOT_ERASE,   Counted,   3, 1000, 20,  0,   100, 100,  100,  true},
    {REQ_BOOT_SWAP,    "REQ_BOOT_SWAP",    GROUP_PROGRAM, 0x65, 24, RSP_BOOT_SWAP,    Counted,   3, 100,  20,  0,   100, 0,    0,    true},
    {REQ_UPDATE_END,   "REQ_UPDATE_END",   GROUP_PROGRAM, 0x61, 6,  RSP_UPDATE_END,   Counted,   3, 1000, 0,   0,   0,   0,    0,    true},
}};
// clang-format on

Frame BuildRequest(RequestId id, std::uint16_t address, std::uint8_t value) {
    const CommandSpec& c = CommandOf(id);
    switch (c.frameLength) {
        case 6:
            return BuildCommandFrame(c.group, c.opcode);
        case 10:
            return BuildCpReadFrame(address);
        case 11:
            return BuildCpWriteFrame(address, value);
        default:
            throw std::invalid_argument("BuildRequest: this command has a builder of its own");
    }
}

}  // namespace kestro
