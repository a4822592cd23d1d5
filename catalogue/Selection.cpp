#include "catalogue/Selection.h"

#include "platform/Paths.h"
#include "texts/Texts.h"

namespace {

void refill(SelectionList& list, CatalogueEntryList entries) {
  SortEntries(entries);
  list.entries = std::move(entries);
  list.selected = -1;
  ++list.fill;
}

int validIndex(const SelectionList& list, int index) {
  return index >= 0 && static_cast<size_t>(index) < list.entries.size() ? index : -1;
}

}  // namespace

DeviceSelection::DeviceSelection(CatalogueLineList lines)
    : CatalogueLines(std::make_unique<CatalogueLineList>(std::move(lines))) {}

const CatalogueLineList& DeviceSelection::Lines() const {
  static const CatalogueLineList released;
  return CatalogueLines ? *CatalogueLines : released;
}

void DeviceSelection::ListVendors(CatalogueEntryList entries) {
  refill(vendors, std::move(entries));
  SelectFirstVendor();
}

void DeviceSelection::SelectFirstVendor() { SelectVendor(vendors.entries.empty() ? -1 : 0); }

void DeviceSelection::ListAllVendors() {
  CatalogueEntryList all;
  FillVendorList(Lines(), all);
  ListVendors(std::move(all));
}

void DeviceSelection::ShowStarted() {
  Chosen = false;
  if (!keyword.empty()) KeywordChanged("");
  SelectFirstVendor();
}

void DeviceSelection::SelectVendor(int index) {
  vendors.selected = validIndex(vendors, index);
  refill(devices, vendors.selected < 0 ? CatalogueEntryList()
                                       : VendorDevices(Lines(), vendors.entries[vendors.selected].line, keyword));
  if (devices.entries.empty()) {
    // Nothing is listed, so nothing may be confirmed: not the device of the
    // vendor shown before either.
    SelectedDevice.clear();
    ProgramPath.clear();
    return;
  }
  SelectDevice(0);
}

void DeviceSelection::SelectDevice(int index) {
  devices.selected = validIndex(devices, index);
  if (devices.selected < 0) return;
  const CatalogueEntry& device = devices.entries[devices.selected];
  SelectedDevice = device.name;
  std::string field;
  try {
    field = ReadDeviceEntry(Lines()[static_cast<size_t>(device.line)], EepromByte1, EepromByte6);
  } catch (const std::exception&) {
    // The program of the device selected before must not be confirmed under
    // this device's name.
    ProgramPath.clear();
    throw;
  }
  StatusText = Texts::ProgramStatus(field);
  ProgramPath = ProgramImagePath(field);
  StatusHint = ProgramPath;
  if (!FileExists(ProgramPath)) StatusText += Texts::ProgramMissingNote;
}

void DeviceSelection::KeywordChanged(std::string_view text) {
  keyword = text;
  // The status line keeps the device shown before, even when nothing is found.
  ProgramPath.clear();
  SelectedDevice.clear();
  ListVendors(KeywordVendors(Lines(), keyword));
}

void DeviceSelection::KeywordKeyUp() {
  if (keyword.empty()) ListAllVendors();
}

void DeviceSelection::KeywordFieldEntered() { StatusText.clear(); }

void DeviceSelection::VendorListEntered() {
  StatusText.clear();
  Chosen = false;
}

void DeviceSelection::Choose() { Chosen = true; }

CloseAnswer DeviceSelection::ConfirmQuery() {
  if (!Chosen) {
    ProgramPath.clear();
    SelectedDevice.clear();
    return {};
  }
  if (FileExists(ProgramPath)) return {};
  CloseAnswer refused{false, Texts::ProgramMissing(ProgramPath), Texts::ErrorCaptionDot};
  Chosen = false;
  ProgramPath.clear();
  SelectedDevice.clear();
  StatusText.clear();
  return refused;
}
