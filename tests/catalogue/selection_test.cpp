// The selection dialog's rules without its windows, over the example
// catalogue (vendors Alpha with AX100 and AX200, Beta with B17) in a temporary
// installation whose program images exist or not.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/Selection.h"
#include "support/TempDir.h"

namespace {

const CatalogueLineList Example = {"Device list", "[Alpha]", "AX100=ax100.bin;3;0", "AX200=ax200.bin;3;1", "[Beta]",
                                   "B17=sub\\b17.bin;12;255"};
const std::vector<std::string> AllImages = {"ax100.bin", "ax200.bin", "b17.bin"};

// The rules over a catalogue, listed as at start-up.
struct Rules {
  Installation install;
  DeviceSelection s;

  explicit Rules(const CatalogueLineList& lines = Example, const std::vector<std::string>& images = AllImages)
      : s(lines) {
    for (const auto& image : images) install.write("programs/" + image, "image of " + image);
    s.ListAllVendors();
  }

  std::string image(const std::string& name) const { return name.empty() ? "" : install.file("programs/" + name); }
  // The entries of a list, the selected one marked with "*".
  static std::string names(const SelectionList& list) {
    std::string all;
    for (size_t i = 0; i < list.entries.size(); ++i)
      all += (i ? "|" : "") + list.entries[i].name + (static_cast<int>(i) == list.selected ? "*" : "");
    return all;
  }
  std::string vendors() const { return names(s.Vendors()); }
  std::string devices() const { return names(s.Devices()); }
};

struct ListingCase {
  const char* what;
  std::function<void(DeviceSelection&)> steps;
  const char* vendors;
  const char* devices;
  const char* device;  // selected; "" for none
  const char* image;   // its program image; "" for none
  const char* status;
};

void expectListing(const ListingCase& c) {
  Rules r;
  c.steps(r.s);
  EXPECT_EQ(r.vendors(), c.vendors) << c.what;
  EXPECT_EQ(r.devices(), c.devices) << c.what;
  EXPECT_EQ(r.s.SelectedDevice, c.device) << c.what;
  EXPECT_EQ(r.s.ProgramPath, r.image(c.image)) << c.what;
  EXPECT_EQ(r.s.StatusText, c.status) << c.what;
}

// Every keystroke changes the field's text and searches again.
std::function<void(DeviceSelection&)> typed(std::vector<const char*> texts) {
  return [texts](DeviceSelection& s) {
    for (const char* text : texts) s.KeywordChanged(text);
  };
}

TEST(DeviceSelection, KeywordSearch) {
  const char* const AX100 = "Program is : ax100.bin";
  const ListingCase cases[] = {
      {"a1", typed({"a", "a1"}), "Alpha*", "AX100*", "AX100", "ax100.bin", AX100},
      {"AX2", typed({"A", "AX", "AX2"}), "Alpha*", "AX200*", "AX200", "ax200.bin", "Program is : ax200.bin"},
      {"bt: the header matches, no device does", typed({"b", "bt"}), "Beta*", "B17*", "B17", "b17.bin",
       "Program is : sub\\b17.bin"},
      {"q: the status line keeps the device shown before", typed({"q"}), "", "", "", "", AX100},
      {"longer than every name", typed({"ax100ax200b17[alpha]"}), "", "", "", "", AX100},
      {"cleared", typed({"b", "bt", "b", ""}), "Alpha*|Beta", "AX100*|AX200", "AX100", "ax100.bin", AX100},
  };
  for (const auto& c : cases) expectListing(c);
}

TEST(DeviceSelection, StepsThatReturnToTheFirstVendor) {
  const ListingCase cases[] = {
      {"a key released in the empty field",
       [](DeviceSelection& s) {
         s.SelectVendor(1);
         s.KeywordKeyUp();
       },
       "Alpha*|Beta", "AX100*|AX200", "AX100", "ax100.bin", "Program is : ax100.bin"},
      {"not a key released over a keyword",
       [](DeviceSelection& s) {
         s.KeywordChanged("x");
         s.SelectDevice(1);
         s.KeywordKeyUp();
       },
       "Alpha*", "AX100|AX200*", "AX200", "ax200.bin", "Program is : ax200.bin"},
      {"a new showing after a search",
       [](DeviceSelection& s) {
         s.KeywordChanged("bt");
         s.ShowStarted();
       },
       "Alpha*|Beta", "AX100*|AX200", "AX100", "ax100.bin", "Program is : ax100.bin"},
  };
  for (const auto& c : cases) expectListing(c);
}

struct StepCase {
  const char* what;
  std::function<void(DeviceSelection&)> step;
  const char* device;
  bool keepsPath;
  const char* status;
  bool chosen;
  std::uint8_t byte1, byte6;
};

// From B17 selected and chosen, with an empty keyword.
TEST(DeviceSelection, WhatEachStepClears) {
  const char* const B17 = "Program is : sub\\b17.bin";
  const StepCase cases[] = {
      {"a keyword that finds nothing", [](DeviceSelection& s) { s.KeywordChanged("q"); }, "", false, B17, true, 12,
       255},
      {"a keyword that finds a device", [](DeviceSelection& s) { s.KeywordChanged("17"); }, "B17", true, B17, true,
       12, 255},
      {"entering the keyword field", [](DeviceSelection& s) { s.KeywordFieldEntered(); }, "B17", true, "", true, 12,
       255},
      {"entering the vendor list", [](DeviceSelection& s) { s.VendorListEntered(); }, "B17", true, "", false, 12, 255},
      {"no vendor selected", [](DeviceSelection& s) { s.SelectVendor(-1); }, "", false, B17, true, 12, 255},
      {"no device selected", [](DeviceSelection& s) { s.SelectDevice(-1); }, "B17", true, B17, true, 12, 255},
      {"a new showing", [](DeviceSelection& s) { s.ShowStarted(); }, "AX100", true, "Program is : ax100.bin", false,
       3, 0},
  };
  for (const auto& c : cases) {
    Rules r;
    r.s.SelectVendor(1);
    r.s.Choose();
    c.step(r.s);
    EXPECT_EQ(r.s.SelectedDevice, c.device) << c.what;
    EXPECT_EQ(r.s.ProgramPath.empty(), !c.keepsPath) << c.what;
    EXPECT_EQ(r.s.StatusText, c.status) << c.what;
    EXPECT_EQ(r.s.Chosen, c.chosen) << c.what;
    EXPECT_EQ(r.s.EepromByte1, c.byte1) << c.what;
    EXPECT_EQ(r.s.EepromByte6, c.byte6) << c.what;
  }
}

struct RefillCase {
  const char* what;
  std::function<void(DeviceSelection&)> step;
  bool vendors, devices;
};

// The dialog replaces a list, and so loses its scroll position, only when
// the list was refilled.
TEST(DeviceSelection, WhichStepsRefillTheLists) {
  const RefillCase cases[] = {
      {"a device", [](DeviceSelection& s) { s.SelectDevice(1); }, false, false},
      {"a vendor", [](DeviceSelection& s) { s.SelectVendor(1); }, false, true},
      {"a keyword", [](DeviceSelection& s) { s.KeywordChanged("a"); }, true, true},
      {"a key released in the empty field", [](DeviceSelection& s) { s.KeywordKeyUp(); }, true, true},
      {"a new showing", [](DeviceSelection& s) { s.ShowStarted(); }, false, true},
  };
  for (const auto& c : cases) {
    Rules r;
    const unsigned vendors = r.s.Vendors().fill, devices = r.s.Devices().fill;
    c.step(r.s);
    EXPECT_EQ(r.s.Vendors().fill != vendors, c.vendors) << c.what;
    EXPECT_EQ(r.s.Devices().fill != devices, c.devices) << c.what;
  }
}

struct CloseCase {
  const char* what;
  std::vector<std::string> images;
  std::function<void(DeviceSelection&)> browse;
  bool choose;
  const char* missing;  // the image that the message names ("" for an empty path); nullptr: no message
  const char* device;   // the result once asked
};

TEST(DeviceSelection, TheCloseCheck) {
  const auto beta = [](DeviceSelection& s) { s.SelectVendor(1); };
  const CloseCase cases[] = {
      {"confirmed, image present", AllImages, beta, true, nullptr, "B17"},
      {"cancelled", AllImages, beta, false, nullptr, ""},
      {"cancelled, image missing", {"ax100.bin"}, beta, false, nullptr, ""},
      {"confirmed, image missing", {"ax100.bin", "ax200.bin"}, beta, true, "b17.bin", ""},
      {"confirmed with nothing listed", AllImages,
       [](DeviceSelection& s) {
         s.SelectVendor(1);
         s.KeywordChanged("q");
       },
       true, "", ""},
  };
  for (const auto& c : cases) {
    Rules r(Example, c.images);
    c.browse(r.s);
    const std::string status = r.s.StatusText;
    if (c.choose) r.s.Choose();
    const CloseAnswer answer = r.s.ConfirmQuery();
    EXPECT_EQ(answer.canClose, !c.missing) << c.what;
    EXPECT_EQ(r.s.SelectedDevice, c.device) << c.what;
    EXPECT_EQ(r.s.ProgramPath, *c.device ? r.image("b17.bin") : "") << c.what;
    EXPECT_EQ(r.s.EepromByte1, 12) << c.what;
    EXPECT_EQ(r.s.EepromByte6, 255) << c.what;
    EXPECT_EQ(r.s.Chosen, c.choose && !c.missing) << c.what;
    if (c.missing) {
      EXPECT_EQ(answer.message, "The program " + r.image(c.missing) + " is not exists.") << c.what;
      EXPECT_EQ(answer.caption, "Error.") << c.what;
      EXPECT_EQ(r.s.StatusText, "") << c.what;
    } else {
      EXPECT_EQ(answer.message, "") << c.what;
      EXPECT_EQ(r.s.StatusText, status) << c.what;
    }
  }
}

TEST(DeviceSelection, AMissingImageIsMarkedInTheStatusLine) {
  Rules r(Example, {"ax100.bin"});
  r.s.SelectDevice(1);
  EXPECT_EQ(r.s.StatusText, "Program is : ax200.bin ( Not exist. )");
  EXPECT_EQ(r.s.StatusHint, r.image("ax200.bin"));
  EXPECT_EQ(r.s.ProgramPath, r.image("ax200.bin")) << "still selectable; only confirming is refused";
}

TEST(DeviceSelection, AVendorWithoutDevicesSelectsNothing) {
  Rules r({"[A]", "[B]", "b1=b.bin;1;2", "[C]"}, {"b.bin"});
  EXPECT_EQ(r.vendors(), "A*|B|C");
  EXPECT_EQ(r.devices(), "");
  EXPECT_EQ(r.s.SelectedDevice, "");
  r.s.SelectVendor(1);
  ASSERT_EQ(r.s.SelectedDevice, "b1");
  r.s.SelectVendor(2);
  EXPECT_EQ(r.devices(), "");
  EXPECT_EQ(r.s.SelectedDevice, "");
  EXPECT_EQ(r.s.ProgramPath, "");
  r.s.SelectDevice(0);
  EXPECT_EQ(r.s.SelectedDevice, "") << "there is no first device";
  r.s.Choose();
  EXPECT_EQ(r.s.ConfirmQuery().message, "The program  is not exists.");
}

TEST(DeviceSelection, ADeviceLineThatFailsToReadTakesOnlyTheNameAndTheFirstNumber) {
  Rules r({"[Alpha]", "AX100=ax100.bin;3;0", "AX200=ax200.bin;7;bad"}, {"ax100.bin", "ax200.bin"});
  try {
    r.s.SelectDevice(1);
    ADD_FAILURE() << "read without an error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "'bad' is not a valid integer value");
  }
  EXPECT_EQ(r.devices(), "AX100|AX200*");
  EXPECT_EQ(r.s.SelectedDevice, "AX200");
  EXPECT_EQ(r.s.EepromByte1, 7);
  EXPECT_EQ(r.s.EepromByte6, 0);
  EXPECT_EQ(r.s.StatusText, "Program is : ax100.bin");
  EXPECT_EQ(r.s.ProgramPath, "") << "the image of the device before must not be confirmed under this name";
}

}  // namespace
