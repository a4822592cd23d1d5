// The rules of the device selection dialog, without its windows: what is
// listed and selected, what a confirmation may close the dialog with, and what
// is cleared when. The dialog runs one operation per event and then shows the
// state that it left.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "catalogue/Catalogue.h"

// A list as the dialog shows it: the entries in the order of the sorted list
// box and the selected one (-1 for none). Every refill counts `fill` up, so
// that the dialog replaces its list only when the entries changed.
struct SelectionList {
  CatalogueEntryList entries;
  int selected = -1;
  unsigned fill = 0;
};

// The close check's decision: close, or stay open after showing the message
// with its caption.
struct CloseAnswer {
  bool canClose = true;
  std::string message;
  std::string caption;
};

class DeviceSelection {
 public:
  DeviceSelection() = default;
  explicit DeviceSelection(CatalogueLineList lines);

  // Held from start-up until the main window closes and releases it; without
  // it nothing is listed.
  std::unique_ptr<CatalogueLineList> CatalogueLines;
  // The user asked to confirm the selected device.
  bool Chosen = false;
  // The selected device and its program image; both empty when nothing is
  // selected, and after a close without a confirmed, existing image.
  std::string ProgramPath;
  std::string SelectedDevice;
  // The last device read: never cleared.
  std::uint8_t EepromByte1 = 0;
  std::uint8_t EepromByte6 = 0;
  // The status line and its tooltip.
  std::string StatusText;
  std::string StatusHint;

  const SelectionList& Vendors() const { return vendors; }
  const SelectionList& Devices() const { return devices; }

  // Every vendor, the first one and its first device selected. Throws
  // CatalogueFormatError before anything changes, or the error of a first
  // device that cannot be read.
  void ListAllVendors();
  // A new showing: no keyword, nothing chosen, the first vendor and its first
  // device selected.
  void ShowStarted();
  // Lists the vendor's devices, narrowed by the keyword, and selects the
  // first. -1 (or no such vendor) lists none; then nothing is selected.
  void SelectVendor(int index);
  // Takes the device's name and reads its line into the results and the
  // status line. A line that cannot be read throws once the name and the
  // numbers before the fault are taken; the program path is then empty.
  // -1 (the user cleared the selection) changes nothing else.
  void SelectDevice(int index);
  // The keyword search: lists the vendors in which a line matches and selects
  // the first.
  void KeywordChanged(std::string_view text);
  // A key released in the keyword field: an empty field lists every vendor
  // again.
  void KeywordKeyUp();
  // The focus entered the keyword field or the vendor list.
  void KeywordFieldEntered();
  void VendorListEntered();
  // OK, Enter or a double-click on a device.
  void Choose();
  // Any close request. Clears the results unless a chosen device's image
  // exists; a chosen one that is missing keeps the dialog open.
  CloseAnswer ConfirmQuery();

 private:
  const CatalogueLineList& Lines() const;
  void ListVendors(CatalogueEntryList entries);
  void SelectFirstVendor();

  std::string keyword;
  SelectionList vendors;
  SelectionList devices;
};
