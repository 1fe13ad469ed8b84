#pragma once
// File > Settings: the shared history server the station sends its runs to, as a libpq
// connection string or URI ("" for none). Kept in the station's stored settings.

#include <QDialog>
#include <QString>

class QLineEdit;

namespace kestro::station {

class StationSettingsDialog final : public QDialog {
    Q_OBJECT

  public:
    explicit StationSettingsDialog(const QString& server, QWidget* parent = nullptr);
    QString Server() const;
    QLineEdit* ServerEdit() const { return m_server; }

  private:
    QLineEdit* m_server = nullptr;
};

// The stored server ("" none), and storing it.
QString StoredHistoryServer();
void StoreHistoryServer(const QString& server);

}  // namespace kestro::station
