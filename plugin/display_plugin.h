#pragma once
// The entry points that the display host application calls, all with the
// standard Windows calling convention and one 32-bit slot per argument.
// Their names are the display host's plug-in interface (QX20481.def).

#include <windows.h>

#include <cstdint>

extern "C" {

// size_x, size_y are not read. ok points at a one-byte flag: 1 on success.
const char* WINAPI DISPLAYDLL_Init(uint32_t size_x, uint32_t size_y, const char* parameters, uint8_t* ok);
void WINAPI DISPLAYDLL_Done();
void WINAPI DISPLAYDLL_Write(const char* text);
void WINAPI DISPLAYDLL_SetPosition(uint32_t x, uint32_t y);
void WINAPI DISPLAYDLL_CustomChar(uint32_t character, uint32_t data);
uint8_t WINAPI DISPLAYDLL_CustomCharIndex(uint32_t index);
const char* WINAPI DISPLAYDLL_Usage();
const char* WINAPI DISPLAYDLL_DefaultParameters();
const char* WINAPI DISPLAYDLL_DriverName();
void WINAPI DISPLAYDLL_PowerResume();

}  // extern "C"
