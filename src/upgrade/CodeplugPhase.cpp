#include "upgrade/RadioPolicy.h"
#include "upgrade/Texts.h"
#include "upgrade/UpgradeRun.h"

namespace kestro {

namespace {
using namespace policy;
constexpr Millis kFirstReadWait{200};
}  // namespace

bool UpgradeRun::Codeplug() {
    m_reporter.SetStatusText(texts::kCheckingCodeplug);

    TxResult r = m_tx.Run(REQ_CP_CHECK);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) {
        Box(r.timedOut ? texts::kReadError1 : texts::kReadError2, TitleKind::Kit, Icon::Error);
        m_reporter.SetStatusText(texts::kStartTheUpgrade);
        LogLine(texts::kLogError5);
        return Fail(nullptr, TitleKind::Kit, Icon::Error, End::NoReset);
    }

    // The first read is sent once and never judged: the radio is relied on only for the second.
    m_link.m_codeplugByte.store(0);
    m_link.m_codeplugAddress.store(kCodeplugFirstAddress);
    m_tx.SendRequest(BuildRequest(REQ_CP_READ, kCodeplugFirstAddress));
    m_tx.WaitReply(kFirstReadWait);
    if (m_tx.Cancelled()) return Interrupt(End::StatusReset, false);
    if (m_link.m_replyCode.load() == RSP_CP_DATA) m_tx.ConsumeReply();

    // From here on a late answer to the first read echoes the wrong address and is dropped.
    m_link.m_codeplugAddress.store(kCodeplugDecidingAddress);
    r = m_tx.Run(REQ_CP_READ);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) {
        Box(texts::kReadError4, TitleKind::Kit, Icon::Error);
        m_reporter.SetStatusText(texts::kStartTheUpgrade);
        LogLine(texts::kLogError7);
        return Fail(nullptr, TitleKind::Kit, Icon::Error, End::NoReset);
    }

    if (m_link.m_codeplugByte.load() == kCodeplugDecidingValue) {
        m_runRecord += "No,";
        return true;
    }

    r = m_tx.Run(REQ_CP_PREPARE);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) return Fail(nullptr, TitleKind::Kit, Icon::Error, End::StatusReset);

    m_reporter.SetStatusText(texts::kRestoringCodeplug);
    r = m_tx.Run(REQ_CP_RESTORE);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) {
        Box(texts::kCodeplugWriteError2, TitleKind::Kit, Icon::Error);
        m_reporter.SetStatusText(texts::kStartTheUpgrade);
        LogLine(texts::kLogError1);
        return Fail(nullptr, TitleKind::Kit, Icon::Error, End::NoReset);
    }

    m_link.m_codeplugAddress.store(kCodeplugFirstAddress);
    r = m_tx.Run(REQ_CP_WRITE, kCodeplugFirstValue);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) {
        Box(texts::kCodeplugWriteError3, TitleKind::Kit, Icon::Error);
        LogLine(texts::kLogError2);
        return Fail(nullptr, TitleKind::Kit, Icon::Error, End::StatusReset);
    }

    m_link.m_codeplugAddress.store(kCodeplugDecidingAddress);
    r = m_tx.Run(REQ_CP_WRITE, kCodeplugDecidingValue);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) {
        Box(texts::kCodeplugWriteError3, TitleKind::Kit, Icon::Error);
        LogLine(texts::kLogError3);
        return Fail(nullptr, TitleKind::Kit, Icon::Error, End::StatusReset);
    }

    m_reporter.SetStatusText(texts::kCodeplugCompleted);
    m_runRecord += "Yes,";
    return true;
}

}  // namespace kestro
