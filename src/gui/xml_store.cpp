// SPDX-License-Identifier: Apache-2.0
#include "gui/xml_store.h"

#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace vortan {
namespace {

constexpr char kErrorDomain[] = "org.vortan.updater.store";
constexpr char kRoot[] = "store";
constexpr char kValue[] = "value";
constexpr char kKey[] = "key";
constexpr int kFormatVersion = 1;

QString ToQ(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

StoreError MakeError(int code, const QString& description) {
  return {kErrorDomain, code, description.toStdString(), ""};
}

class XmlStoreCoordinator final : public StoreCoordinator {
 public:
  XmlStoreCoordinator(std::filesystem::path file, StoreValues values)
      : file_(std::move(file)), values_(std::move(values)) {}
  std::unique_ptr<ObjectContext> MakeContext() override {
    return std::make_unique<XmlObjectContext>(file_, values_);
  }

 private:
  std::filesystem::path file_;
  StoreValues values_;
};

}  // namespace

bool ReadXmlStore(const std::filesystem::path& file, StoreValues* values, StoreError* error) {
  values->clear();
  QFile in(ToQ(file));
  if (!in.exists()) return true;
  if (!in.open(QIODevice::ReadOnly)) {
    *error =
        MakeError(static_cast<int>(in.error()),
                  QStringLiteral("Could not read %1: %2").arg(in.fileName(), in.errorString()));
    return false;
  }
  QXmlStreamReader xml(&in);
  if (!xml.readNextStartElement() || xml.name() != QLatin1String(kRoot)) {
    *error = MakeError(1, QStringLiteral("%1 is not a store file").arg(in.fileName()));
    return false;
  }
  while (xml.readNextStartElement()) {
    if (xml.name() == QLatin1String(kValue)) {
      const QString key = xml.attributes().value(QLatin1String(kKey)).toString();
      const QString text = xml.readElementText();
      if (!xml.hasError()) (*values)[key.toStdString()] = text.toStdString();
    } else {
      xml.skipCurrentElement();  // written by a later version; not ours to interpret
    }
  }
  if (xml.hasError()) {
    values->clear();
    *error = MakeError(2, QStringLiteral("The store file %1 is damaged: %2 (line %3)")
                              .arg(in.fileName(), xml.errorString())
                              .arg(xml.lineNumber()));
    return false;
  }
  return true;
}

bool WriteXmlStore(const std::filesystem::path& file, const StoreValues& values,
                   StoreError* error) {
  QSaveFile out(ToQ(file));
  if (!out.open(QIODevice::WriteOnly)) {
    *error =
        MakeError(static_cast<int>(out.error()),
                  QStringLiteral("Could not write %1: %2").arg(out.fileName(), out.errorString()));
    return false;
  }
  QXmlStreamWriter xml(&out);
  xml.setAutoFormatting(true);
  xml.writeStartDocument();
  xml.writeStartElement(QLatin1String(kRoot));
  xml.writeAttribute(QStringLiteral("version"), QString::number(kFormatVersion));
  for (const auto& [key, value] : values) {
    xml.writeStartElement(QLatin1String(kValue));
    xml.writeAttribute(QLatin1String(kKey), QString::fromStdString(key));
    xml.writeCharacters(QString::fromStdString(value));
    xml.writeEndElement();
  }
  xml.writeEndElement();
  xml.writeEndDocument();
  if (xml.hasError() || !out.commit()) {
    *error =
        MakeError(static_cast<int>(out.error()),
                  QStringLiteral("Could not write %1: %2").arg(out.fileName(), out.errorString()));
    return false;
  }
  return true;
}

XmlObjectContext::XmlObjectContext(std::filesystem::path file, StoreValues values)
    : file_(std::move(file)), values_(std::move(values)) {}

bool XmlObjectContext::Save(StoreError* error) {
  if (!WriteXmlStore(file_, values_, error)) return false;
  changed_ = false;
  return true;
}

void XmlObjectContext::SetValue(const std::string& key, const std::string& value) {
  auto [it, inserted] = values_.try_emplace(key, value);
  if (!inserted && it->second == value) return;
  it->second = value;
  changed_ = true;
}

std::unique_ptr<StoreCoordinator> XmlStoreProvider::AddXmlStore(const std::filesystem::path& file,
                                                                StoreError* error) {
  StoreValues values;
  if (!ReadXmlStore(file, &values, error)) return nullptr;
  return std::make_unique<XmlStoreCoordinator>(file, std::move(values));
}

}  // namespace vortan
