#include "platform/RehearsalRegistry.h"

#include <algorithm>
#include <cstring>

namespace plat {

namespace {

// Without leading or trailing backslashes, as the registry names keys.
std::string KeyPath(const char* path) {
  std::string p = path != nullptr ? path : "";
  while (!p.empty() && p.front() == '\\') p.erase(0, 1);
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return p;
}

bool Remove(regfile::Document* doc, const std::string& key, const std::string& name) {
  regfile::Key* k = regfile::FindKey(doc, key);
  RegValue* v = k != nullptr ? regfile::FindValue(k, name) : nullptr;
  if (v == nullptr) return false;
  k->values.erase(k->values.begin() + (v - k->values.data()));
  return true;
}

}  // namespace

// A key as the run sees it: the values set in memory over the real key's.
class RehearsalKey final : public RegKey {
 public:
  RehearsalKey(RehearsalRegistry* registry, std::string path)
      : registry_(registry), path_(std::move(path)) {
    registry_->real_->OpenKey(path_.c_str(), &real_);  // none: a key made in memory
  }

  int Query(const char* name, uint32_t* type, void* data, uint32_t* size) override {
    const std::string n = name != nullptr ? name : "";
    RegValue value;
    if (!Find(n, &value)) {
      if (Deleted(n) || !real_) return kRegErrNotFound;
      return real_->Query(name, type, data, size);
    }
    if (type != nullptr) *type = value.type;
    const uint32_t capacity = *size;
    *size = static_cast<uint32_t>(value.data.size());
    if (data == nullptr) return 0;
    if (value.data.size() > capacity) return kRegErrMoreData;
    if (!value.data.empty()) std::memcpy(data, value.data.data(), value.data.size());
    return 0;
  }

  int Set(const char* name, uint32_t type, const void* data, uint32_t size) override {
    RegValue value;
    value.name = name != nullptr ? name : "";
    value.type = type;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (size > 0) value.data.assign(bytes, bytes + size);
    regfile::Key* key = regfile::FindKey(&registry_->made_, path_);
    if (key == nullptr) key = regfile::AddKey(&registry_->made_, path_);
    regfile::SetValue(key, value);
    Remove(&registry_->deleted_, path_, value.name);
    registry_->writes_.push_back({path_, value});
    return 0;
  }

  int Delete(const char* name) override {
    const std::string n = name != nullptr ? name : "";
    uint32_t size = 0;
    if (Query(name, nullptr, nullptr, &size) != 0) return kRegErrNotFound;
    Remove(&registry_->made_, path_, n);
    regfile::Key* gone = regfile::FindKey(&registry_->deleted_, path_);
    if (gone == nullptr) gone = regfile::AddKey(&registry_->deleted_, path_);
    regfile::SetValue(gone, RegValue{n, kRegNone, {}});
    return 0;
  }

  int List(std::vector<RegValue>* values) override {
    values->clear();
    if (real_) {
      if (int err = real_->List(values)) return err;
    }
    values->erase(std::remove_if(values->begin(), values->end(),
                                 [&](const RegValue& v) { return Deleted(v.name); }),
                  values->end());
    if (regfile::Key* key = regfile::FindKey(&registry_->made_, path_)) {
      regfile::Key merged{path_, *values};
      for (const RegValue& v : key->values) regfile::SetValue(&merged, v);
      *values = merged.values;
    }
    return 0;
  }

  int Flush() override { return 0; }

 private:
  bool Find(const std::string& name, RegValue* out) {
    regfile::Key* key = regfile::FindKey(&registry_->made_, path_);
    RegValue* v = key != nullptr ? regfile::FindValue(key, name) : nullptr;
    if (v != nullptr) *out = *v;
    return v != nullptr;
  }
  bool Deleted(const std::string& name) {
    regfile::Key* key = regfile::FindKey(&registry_->deleted_, path_);
    return key != nullptr && regfile::FindValue(key, name) != nullptr;
  }

  RehearsalRegistry* registry_;
  std::string path_;
  std::unique_ptr<RegKey> real_;
};

int RehearsalRegistry::OpenKey(const char* path, std::unique_ptr<RegKey>* out) {
  out->reset();
  const std::string p = KeyPath(path);
  if (!regfile::KeyExists(made_, p)) {
    std::unique_ptr<RegKey> real;
    if (int err = real_->OpenKey(p.c_str(), &real)) return err;
  }
  out->reset(new RehearsalKey(this, p));
  return 0;
}

int RehearsalRegistry::CreateKey(const char* path, std::unique_ptr<RegKey>* out) {
  out->reset();
  const std::string p = KeyPath(path);
  std::unique_ptr<RegKey> real;
  if (!regfile::KeyExists(made_, p) && real_->OpenKey(p.c_str(), &real) != 0) {
    regfile::AddKey(&made_, p);
  }
  out->reset(new RehearsalKey(this, p));
  return 0;
}

int RehearsalRegistry::ListKeys(const char* path, std::vector<std::string>* keys) {
  keys->clear();
  const std::string p = KeyPath(path);
  if (int err = real_->ListKeys(p.c_str(), keys)) {
    if (err != kRegErrNotFound) return err;
  }
  for (const regfile::Key& k : made_.keys) {
    if (!regfile::IsSameOrBelow(k.path, p)) continue;
    const bool listed = std::any_of(keys->begin(), keys->end(), [&](const std::string& s) {
      return regfile::IsSameOrBelow(s, k.path) && regfile::IsSameOrBelow(k.path, s);
    });
    if (!listed) keys->push_back(k.path);
  }
  std::sort(keys->begin(), keys->end());
  return 0;
}

bool RehearsalRegistry::RealValue(const std::string& key, const std::string& name, RegValue* out) {
  std::unique_ptr<RegKey> real;
  if (real_->OpenKey(key.c_str(), &real) != 0) return false;
  uint32_t size = 0;
  if (real->Query(name.c_str(), &out->type, nullptr, &size) != 0) return false;
  out->name = name;
  out->data.resize(size);
  return real->Query(name.c_str(), &out->type, out->data.data(), &size) == 0;
}

}  // namespace plat
