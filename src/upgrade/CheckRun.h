#pragma once
// The check worker: one read-only check from the start gate to the closed port. Private to the
// upgrade folder; front ends start it through CUpgradeHub::OnUpgrade with Options.checkOnly.

#include <string>

#include "protocol/Transactions.h"
#include "upgrade/RadioCheck.h"
#include "upgrade/Reporter.h"
#include "upgrade/UpgradeHub.h"

namespace kestro {

class CheckRun {
public:
    explicit CheckRun(CUpgradeHub& hub);
    void Execute();

private:
    void Read();
    bool Answered(const TxResult& r, const char* what);

    CUpgradeHub& m_hub;
    IReporter& m_reporter;
    CTransactions& m_tx;
    LinkState& m_link;
    RadioCheck m_check;
};

}  // namespace kestro
