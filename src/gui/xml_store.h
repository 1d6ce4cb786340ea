// SPDX-License-Identifier: Apache-2.0
#pragma once
// The local store as an XML file: a flat set of named values under a versioned root element,
// read with QXmlStreamReader and written atomically (QSaveFile writes a temporary file and
// renames it over the old one, so a crash mid-save leaves the previous store intact).
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/app_delegate.h"

namespace vortan {

using StoreValues = std::map<std::string, std::string>;

// Reads `file` into `values`. A missing file is an empty store. False with `error` filled when
// the file cannot be read or is not a store.
bool ReadXmlStore(const std::filesystem::path& file, StoreValues* values, StoreError* error);
// Writes `values` to `file` atomically; false with `error` filled on failure.
bool WriteXmlStore(const std::filesystem::path& file, const StoreValues& values, StoreError* error);

class XmlObjectContext final : public ObjectContext {
 public:
  XmlObjectContext(std::filesystem::path file, StoreValues values);
  bool CommitEditing() override { return true; }  // no editor of the store holds pending edits
  bool HasChanges() const override { return changed_; }
  bool Save(StoreError* error) override;

  const StoreValues& Values() const { return values_; }
  void SetValue(const std::string& key, const std::string& value);

 private:
  std::filesystem::path file_;
  StoreValues values_;
  bool changed_ = false;
};

class XmlStoreProvider final : public StoreProvider {
 public:
  bool HasModel() override { return true; }
  std::unique_ptr<StoreCoordinator> AddXmlStore(const std::filesystem::path& file,
                                                StoreError* error) override;
};

}  // namespace vortan
