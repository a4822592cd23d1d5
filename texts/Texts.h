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

#include <cstdint>
#include <string>

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

}  // namespace Texts
