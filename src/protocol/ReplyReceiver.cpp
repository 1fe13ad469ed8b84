#include "protocol/ReplyReceiver.h"

#include "protocol/Frame.h"

namespace kestro {

int ReplyReceiver::OnSerialRxChar(std::uint8_t byte, int /*portNumber*/) {
    // Every byte clears these two, so the worker must read them right after its wait.
    m_link.m_batteryLow.store(0);
    m_link.m_deviceStatus.store(0);

    const int code = m_replyAssembler.FeedByte(byte);
    const auto payload = m_replyAssembler.Payload();
    switch (code) {
        case RSP_CP_DATA:
            m_link.m_codeplugByte.store(payload[0]);
            break;
        case RSP_FW_VERSION:
            m_link.StoreFirmwareVersion(payload.data());
            break;
        case RSP_MODEL:
            m_link.StoreModelNumber(payload.data());
            break;
        case RSP_SERIAL:
            m_link.StoreSerialNumber(payload.data());
            break;
        case RSP_BATTERY:
            m_link.m_batteryLow.store(payload[0] & 1);
            break;
        case RSP_DETECT:
            m_link.m_deviceStatus.store(payload[0]);
            break;
        case RSP_ACK:
        case RSP_NAK:
        case RSP_SELF_PROGRAM:
        case RSP_UPDATE_END:
        case RSP_RECORD:
        case RSP_ERASE_FLASH:
        case RSP_BOOT_ERASE:
        case RSP_BOOT_SWAP:
            break;
        default:
            // RSP_9A, 0, 1 and the in-progress value wake nobody.
            return code;
    }
    m_link.m_replyCode.store(code);
    m_link.SignalReply();
    return code;
}

}  // namespace kestro
