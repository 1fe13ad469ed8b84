#pragma once
// The per-user settings store of the window, on QSettings: organisation "Local AppWizard-Generated
// Applications", application "Kestro UpgradeKit". On Windows that is the registry key
// HKCU\Software\Local AppWizard-Generated Applications\Kestro UpgradeKit; elsewhere an INI file
// under the user's configuration folder. Sections are QSettings groups, values strings.

#include <QSettings>
#include <QString>
#include <memory>
#include <string>

#include "platform/Settings.h"

namespace kestro {

class CQtSettings final : public ISettings {
  public:
    // The kit's own store.
    CQtSettings();
    // A store in the INI file at `iniPath`.
    explicit CQtSettings(const QString& iniPath);

    std::string GetString(const std::string& section, const std::string& name) override;
    void SetString(const std::string& section, const std::string& name,
                   const std::string& value) override;
    // Whether the value exists at all (an empty stored value does).
    bool Contains(const std::string& section, const std::string& name) const;
    // Writes pending changes out; QSettings also does this on its own.
    void Sync();

    QString FileName() const { return m_settings->fileName(); }

  private:
    static QString Key(const std::string& section, const std::string& name);

    std::unique_ptr<QSettings> m_settings;
};

}  // namespace kestro
