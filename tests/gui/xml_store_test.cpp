// SPDX-License-Identifier: Apache-2.0
#include "gui/xml_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace vortan {
namespace {

TEST(XmlStoreTest, SavesAtomicallyAndReadsBack) {
  testing::TempDir dir;
  const std::filesystem::path file = dir.path() / "Quenrix.storedata";
  XmlStoreProvider provider;
  StoreError error;
  auto coordinator = provider.AddXmlStore(file, &error);
  ASSERT_TRUE(coordinator);
  auto context = coordinator->MakeContext();
  EXPECT_FALSE(context->HasChanges());
  EXPECT_FALSE(std::filesystem::exists(file)) << "a store is written only when saved";

  auto* xml = static_cast<XmlObjectContext*>(context.get());
  xml->SetValue("last <folder>", "/home/u/firmware & more");
  EXPECT_TRUE(xml->HasChanges());
  ASSERT_TRUE(xml->Save(&error)) << error.description;
  EXPECT_FALSE(xml->HasChanges());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
      << "no temporary file is left beside the store";

  StoreValues values;
  ASSERT_TRUE(ReadXmlStore(file, &values, &error));
  EXPECT_EQ(values, (StoreValues{{"last <folder>", "/home/u/firmware & more"}}));
}

TEST(XmlStoreTest, RefusesWhatIsNotAStoreAndReportsAFailedWrite) {
  testing::TempDir dir;
  struct Case {
    const char* text;
    const char* why;
  };
  for (const Case& c : {Case{"<store><value key='a'>1</value>", "cut off"},
                        Case{"<other/>", "another root element"}, Case{"\x01\x02", "not XML"}}) {
    SCOPED_TRACE(c.why);
    const std::string file = dir.File("bad.storedata");
    ASSERT_TRUE(testing::WriteText(file, c.text));
    StoreValues values;
    StoreError error;
    EXPECT_FALSE(ReadXmlStore(file, &values, &error));
    EXPECT_FALSE(error.description.empty());
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(XmlStoreProvider().AddXmlStore(file, &error), nullptr);
  }
  StoreError error;
  EXPECT_FALSE(WriteXmlStore(dir.path() / "missing" / "x.storedata", {{"a", "1"}}, &error));
  EXPECT_FALSE(error.description.empty());
}

}  // namespace
}  // namespace vortan
