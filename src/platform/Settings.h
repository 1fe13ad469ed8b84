#pragma once
// The per-user settings store: string values by section and name. The window keeps them in
// QSettings; the command-line kit and tests supply their own stores.

#include <map>
#include <string>
#include <utility>

namespace kestro {

class ISettings {
public:
    virtual ~ISettings() = default;
    // An absent value reads as the empty string.
    virtual std::string GetString(const std::string& section, const std::string& name) = 0;
    virtual void SetString(const std::string& section, const std::string& name,
                           const std::string& value) = 0;
};

// A store held in memory: the command-line kit's settings and the tests' stand-in.
class MemorySettings final : public ISettings {
public:
    std::string GetString(const std::string& section, const std::string& name) override {
        auto it = m_values.find({section, name});
        return it == m_values.end() ? std::string{} : it->second;
    }
    void SetString(const std::string& section, const std::string& name,
                   const std::string& value) override {
        m_values[{section, name}] = value;
    }
    bool Has(const std::string& section, const std::string& name) const {
        return m_values.count({section, name}) != 0;
    }

private:
    std::map<std::pair<std::string, std::string>, std::string> m_values;
};

}  // namespace kestro
