#include "ui/station/StationSettingsDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QVBoxLayout>

namespace kestro::station {

namespace {
const QString kServerKey = QStringLiteral("historyServer");
}  // namespace

StationSettingsDialog::StationSettingsDialog(const QString& server, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Settings"));
    m_server = new QLineEdit(server);
    m_server->setPlaceholderText(QStringLiteral("host=server dbname=kestro user=bench2"));
    m_server->setAccessibleName(QStringLiteral("History server"));
    m_server->setMinimumWidth(m_server->fontMetrics().averageCharWidth() * 50);
    auto* note = new QLabel(QStringLiteral(
        "Each run is kept on this PC first and then sent to this PostgreSQL server, so that every bench "
        "sees every radio. A libpq connection string or URI, or service=NAME; leave it empty for none. "
        "Keep the password in the password file (PGPASSFILE or ~/.pgpass), not here."));
    note->setWordWrap(true);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&History server:"), m_server);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);
}

QString StationSettingsDialog::Server() const { return m_server->text().trimmed(); }

QString StoredHistoryServer() { return QSettings().value(kServerKey).toString(); }

void StoreHistoryServer(const QString& server) {
    QSettings settings;
    if (server.isEmpty()) {
        settings.remove(kServerKey);
    } else {
        settings.setValue(kServerKey, server);
    }
}

}  // namespace kestro::station
