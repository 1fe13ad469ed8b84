#include "runcore/VirtualRun.h"

namespace kestro {

VirtualRun::VirtualRun(VirtualRunOptions options) : radio(options.radio), m_options(std::move(options)) {
    if (m_options.reporter == nullptr) m_options.reporter = &m_silent;
    RebuildHub({});
}

VirtualRun::~VirtualRun() {
    hub.reset();  // a worker that still holds the link stops before the link goes
}

CUpgradeHub& VirtualRun::RebuildHub(const VirtualHubChanges& changes) {
    CUpgradeHub::Options options;
    options.firmwarePath = m_options.firmwarePath;
    options.logPath = changes.logPath.value_or(m_options.logPath);
    options.recoveryFolder = m_options.recoveryFolder;
    options.engine = changes.engine != nullptr ? changes.engine : &link;
    options.portOwner = changes.portOwner;
    options.clock = &clock;
    options.runWorkerInline = true;
    options.confirmWait = changes.confirmWait;
    hub.reset();
    hub = std::make_unique<CUpgradeHub>(*m_options.reporter, settings, options);
    hub->OnInitialUpdate();
    return *hub;
}

}  // namespace kestro
