#include "ui/CQtSettings.h"

#include "ui/UiTexts.h"

namespace kestro {
namespace {

QString FromLocal(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CQtSettings::CQtSettings()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QString::fromLatin1(uitexts::kOrganisation),
                                             QString::fromLatin1(uitexts::kApplicationName))) {}

CQtSettings::CQtSettings(const QString& iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {}

QString CQtSettings::Key(const std::string& section, const std::string& name) {
    return FromLocal(section) + QLatin1Char('/') + FromLocal(name);
}

std::string CQtSettings::GetString(const std::string& section, const std::string& name) {
    const QByteArray value = m_settings->value(Key(section, name)).toString().toLatin1();
    return std::string(value.constData(), static_cast<std::size_t>(value.size()));
}

void CQtSettings::SetString(const std::string& section, const std::string& name,
                            const std::string& value) {
    m_settings->setValue(Key(section, name), FromLocal(value));
}

bool CQtSettings::Contains(const std::string& section, const std::string& name) const {
    return m_settings->contains(Key(section, name));
}

void CQtSettings::Sync() { m_settings->sync(); }

}  // namespace kestro
