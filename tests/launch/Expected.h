// What the launch tests expect to find in the files they look at.
#pragma once

#include <string>

// The whole text of "Talvorin.AVR" naming these images.
inline std::string ProjectText(const std::string& data, const std::string& program) {
  return "[Project]\r\nTitle=\r\nId=\r\nLeft=0\r\nTop=0\r\nFuses=0\r\n"
         "[Security]\r\nLockbits=0\r\n"
         "[Device]\r\nDevice=ATmega103/L\r\n"
         "[Files]\r\nData=" + data + "\r\nProgram=" + program + "\r\n"
         "[datamem-Window]\r\nLeft=0\r\nTop=0\r\nwidth=600\r\nheight=323\r\n"
         "[Progmem-Window]\r\nLeft=28\r\nTop=28\r\nwidth=600\r\nheight=323\r\n";
}
