// The per-user settings store.
#include "settings/settings_store.h"

#include "platform/text.h"

namespace quellora {

SettingsStore::SettingsStore(KeyStore& keys, const std::string& keyPath) : keys_(keys), path_(keyPath) {
    open_ = keys_.CreateKey(path_);
}

std::optional<std::string> SettingsStore::Read(const std::string& section, const std::string& entry) {
    if (!open_) return std::nullopt;
    std::string sectionPath = path_;
    if (!sectionPath.empty() && sectionPath.back() != '\\') sectionPath += '\\';
    sectionPath += section;
    const auto value = keys_.ReadValue(sectionPath, entry);
    if (!value) return std::nullopt;
    // Only string data is read; an expandable string is not expanded. Any
    // other type is refused, and the default stands.
    if (value->type != KeyValue::Type::String && value->type != KeyValue::Type::ExpandString) return std::nullopt;
    return value->text;
}

std::string SettingsStore::ReadString(const std::string& section, const std::string& entry, const std::string& def) {
    return Read(section, entry).value_or(def);
}

int32_t SettingsStore::ReadInteger(const std::string& section, const std::string& entry, int32_t def) {
    const auto text = Read(section, entry);
    if (!text) return def;
    return ParseInt32(*text).value_or(def);
}

}  // namespace quellora
