// The texts the program shows the user: the messages of its message boxes
// and message dialogs with their captions, the window captions, the status
// lines, and the error texts the features raise for the standard error
// report. Menu and control captions stay where the widgets are built.
//
// The odd spellings and spacing ("is not exist.", "compelete", "transmition",
// "Job down", the blanks inside parentheses and before full stops) are the
// program's own words and kept on purpose: users know the messages by them.
// Do not correct them in passing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Texts {

// The error captions differ from window to window; each keeps its own.
inline constexpr const char* ErrorCaption = "ERROR";
inline constexpr const char* ErrorCaptionBangs = "ERROR !!!";
inline constexpr const char* ErrorCaptionBang = "ERROR ! ";
inline constexpr const char* ErrorCaptionDot = "Error.";
inline constexpr const char* ErrorCaptionDots = "Error....";

// The main window and the port settings.

inline std::string StartupCaption(std::int32_t lptNumber, std::int32_t comNumber) {
  return "Talvorin V2.20    @LPT " + std::to_string(lptNumber) + "   @COM " + std::to_string(comNumber);
}

inline std::string PortDialogCaption(std::int32_t lptNumber, std::int32_t comNumber) {
  return "Talvorin V1.00  @LPT " + std::to_string(lptNumber) + "  @COM " + std::to_string(comNumber);
}

inline constexpr const char* PortDialogTitle = "Select PORT.";

inline std::string PrnportMissingForPort(const std::string& prnportPath) {
  return prnportPath + " is not exist.\nThe ISP program must in the same directory with Talvorin.EXE .";
}

inline std::string PrnportMissingForSave(const std::string& prnportPath) {
  return prnportPath +
         " is not exist.\nThe ISP program must in the same directory with Talvorin.\nCan not save what you had select.";
}

inline constexpr const char* PrnportMissingForChange =
    "The prnport.cfg is not exist.\nThe prnport.cfg must in the same directory with Talvorin.EXE .";

// Option > Serial devices: the device behind each COM number.

inline constexpr const char* SerialDevicesTitle = "Serial devices";

// The entry for no mapping; device is where the COM number then leads.
inline std::string UnmappedComDeviceEntry(const std::string& device) { return "default (" + device + ")"; }

inline std::string ComDeviceNotConnected(const std::string& device) { return device + " (not connected)"; }

// The device catalogue and its selection dialog.

inline constexpr const char* SelectDialogTitle = "Select program you want.";
inline constexpr const char* CatalogueMissing = "\"Device.lst\" is not exist.";
inline constexpr const char* CatalogueWrongFormat = "\"Device.lst\" is written in wrong format.";

inline std::string ProgramStatus(const std::string& programField) { return "Program is : " + programField; }
// Follows ProgramStatus when the program image is missing.
inline constexpr const char* ProgramMissingNote = " ( Not exist. )";

inline std::string ProgramMissing(const std::string& programPath) {
  return "The program " + programPath + " is not exists.";
}

inline std::string CatalogueLineBlank(std::size_t lineNumber) {
  return "Line " + std::to_string(lineNumber) + " of the catalogue holds nothing but blanks";
}

inline std::string DeviceLineWithoutProgram(std::string_view line) {
  return "The device line \"" + std::string(line) + "\" names no program";
}

// The runtime library's words for a bad number, a file and a list index.

inline std::string NotAnInteger(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}

inline std::string CannotOpenFile(const std::string& path) { return "Cannot open file " + path; }

inline std::string CannotCreateFile(const std::string& path) { return "Cannot create file " + path; }

inline std::string ListIndexOutOfBounds(std::size_t index) {
  return "List index out of bounds (" + std::to_string(index) + ")";
}

// Device > Change and Action > QELT.

inline constexpr const char* EepromNotCreated = "Can not create eeprom.bin .";

// A path that would not go whole into its line of the tool's files; the
// command then writes nothing.
inline std::string PathNotWritable(const std::string& path, const char* reason) {
  return "Can not write the path\n" + path + "\n" + reason + "\nNothing was written.";
}
inline constexpr const char* PathHasLineBreakReason = "It holds a line break, which would end its line in the file.";
inline constexpr const char* PathTooLongReason =
    "Its short form can not be taken: it must be shorter than 1024 characters.";

inline std::string ToolMissing(const std::string& toolPath) { return toolPath + " is not find. Can not launch it."; }

// Why the tool did not start, one reason a kind of failure.
inline constexpr const char* ToolNotFoundReason = "The file was not found.";
inline constexpr const char* ToolNotExecutableReason = "Access is denied: the file is not an executable program.";
inline constexpr const char* ToolNotAProgramReason = "The file is not a valid program.";
inline constexpr const char* ToolNeedsWineReason =
    "It is a Windows program, and this system cannot run it (wine is not on the PATH).";
inline constexpr const char* ToolRefusedReason = "The system refused to start it.";

inline std::string ToolNotStarted(const std::string& toolPath, const std::string& reason, std::uint32_t error) {
  return toolPath + " can not be started.\n" + reason + " (Error: " + std::to_string(error) + ")";
}

// The transfer dialogs.

inline std::string DownloadCaption(std::int32_t comNumber) { return " Download data @COM" + std::to_string(comNumber); }

inline std::string UploadCaption(std::int32_t comNumber) { return "Upload data @COM" + std::to_string(comNumber); }

// A port by its name: "COM3", or a device that talvorin-transfer was given.
inline std::string PortNotOpened(const std::string& portName) {
  return portName + " can not be opened.\nIt may be used by another program.";
}

inline std::string PortNotOpened(std::int32_t comNumber) { return PortNotOpened("COM" + std::to_string(comNumber)); }

// The line the port message adds when the system tells why the port did
// not open; device is the path the port name leads to. Where the device
// itself is wrong and a COM number led there, the hint about the mapping
// follows.

inline constexpr const char* ComMappingHint =
    "COM numbers are mapped in Option > Serial devices... (section \"COM devices\" of \"Talvorin.ini\").";

inline std::string PortDeviceMissing(const std::string& device) { return device + " : nothing is connected there."; }

inline std::string PortDeviceNotSerial(const std::string& device) { return device + " : it is not a serial port."; }

inline std::string PortDeviceFolder(const std::string& device) {
  return device + " : it is a folder, not a serial port.";
}

inline std::string PortDeviceNoHardware(const std::string& device) {
  return device + " : no device answers there; an adapter may have been unplugged.";
}

inline std::string PortDeviceFault(const std::string& device) {
  return device + " : the device does not respond (input/output error).";
}

inline std::string PortPathNotAFolder(const std::string& device) {
  return device + " : a part of the path is not a folder.";
}

inline std::string PortPathLinkLoop(const std::string& device) {
  return device + " : its symbolic links lead round in a loop.";
}

inline std::string PortPathTooLong(const std::string& device) { return device + " : the path is too long."; }

inline std::string PortSystemExhausted(const std::string& device) {
  return device + " : the system has run out of open files or memory.";
}

// group: the one whose members may use the device; empty when joining none would help.
inline std::string PortDeviceDenied(const std::string& device, const std::string& group) {
  if (group.empty()) return device + " : permission denied.";
  return device + " : permission denied. Add your user to group \"" + group + "\", then log in again.";
}

// holder: the program that holds the device, empty when it was not found.
inline std::string PortDeviceBusy(const std::string& device, const std::string& holder, std::int64_t holderPid) {
  if (holder.empty()) return device + " : it is busy.";
  return device + " : it is busy, held by " + holder + " (process " + std::to_string(holderPid) + ").";
}

// The programmer went away during a transfer or before it (unplugged, or
// switched off): portName as the dialog opened it, "COM1".
inline std::string PortDisconnected(const std::string& portName) {
  return portName + " was disconnected.\nThe programmer is no longer connected.";
}

// The message dialog's caption until the message sets its own.
inline constexpr const char* MessageDialogTitle = "MsgDlg";

// The transfers' messages, in either direction.

inline constexpr const char* UserBreakCaption = "USER BREAK !!!";
inline constexpr const char* UserPressedEsc = "User press ESC !!!";

// Download.

inline std::string DownloadFileMissing(const std::string& fileName) { return "File : " + fileName + " is not exist."; }

inline std::string DownloadFileUnreadable(const std::string& fileName) {
  return "File : " + fileName + " can not be read.";
}

inline std::string DownloadFileTooLarge(const std::string& fileName) {
  return "File : " + fileName + " is too large. It must be smaller than 2 GB.";
}

inline constexpr const char* DownloadWaitBreak = "USER Break !!!\n ( It is waiting for ACK. )";
inline constexpr const char* DownloadWaitBreakCaption = "USER BREAK!!!";
inline constexpr const char* DownloadNoBlockSize = "Something wrong. Can not get block size.";
inline constexpr const char* DownloadNoMemory = "Memory alloc error, transmition is abort.";

inline std::string DownloadReadFailed(const std::string& fileName) {
  return "File : " + fileName + " can not be read. The download is abort.";
}

inline constexpr const char* TargetSentEsc = "Target send ESC !!!";
inline constexpr const char* TargetBreakCaption = "Target Break !!!";
inline constexpr const char* DownloadComplete = "Download compelete !!!";
inline constexpr const char* DownloadCompleteCaption = "Job down !!!";

// Upload.

inline std::string UploadDirectoryMissing(const std::string& directory) {
  return "Directory : \" " + directory + " \" is not exist. Please create it first.";
}

inline constexpr const char* UploadWaitBreak = "User press ESC !!!\n( It is waiting for ACK. )";
inline constexpr const char* UploadNoBlockSize = "Can not get Block size.";

inline std::string UploadFileNotCreated(const std::string& fileName) {
  return "Can not open " + fileName + " to save.";
}

// A device or a pipe is not written over.
inline std::string UploadNotAFile(const std::string& fileName) {
  return UploadFileNotCreated(fileName) + "\nIt is not a regular file.";
}

inline constexpr const char* UploadNoMemory = "Can not allocate enough memory.";

inline std::string UploadWriteFailed(const std::string& fileName) {
  return "Can not write to " + fileName + " . The upload is abort.";
}

// Where an upload that did not complete left what it received: its whole
// blocks in the file, or nothing written and the file as it was.
inline std::string UploadBytesSaved(std::int64_t bytesSaved, const std::string& fileName) {
  return std::to_string(bytesSaved) + " bytes are saved in " + fileName + " .";
}
inline std::string UploadNothingSaved(const std::string& fileName) {
  return "Nothing is saved. " + fileName + " is left as it was.";
}
// The whole blocks kept beside a file that stays as it was.
inline std::string UploadPartSaved(std::int64_t bytesSaved, const std::string& partName, const std::string& fileName) {
  return UploadBytesSaved(bytesSaved, partName) + " " + fileName + " is left as it was.";
}
// The same where there was no file to leave.
inline std::string UploadNothingCreated(const std::string& fileName) {
  return "Nothing is saved. " + fileName + " is not created.";
}

// The whole blocks received before the programmer went away stay in the file.
inline std::string UploadDisconnected(const std::string& portName, std::int64_t bytesSaved,
                                      const std::string& fileName) {
  return PortDisconnected(portName) + "\n" + UploadBytesSaved(bytesSaved, fileName);
}

inline constexpr const char* UploadComplete = "Upload compelete !!!";
inline constexpr const char* UploadCompleteCaption = "FINISH !!!";

}  // namespace Texts
