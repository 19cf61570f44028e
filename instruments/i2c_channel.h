// The adapter's I2C channel that carries the board's 1-Wire bridge.
#pragma once

inline constexpr const char* kI2CDescription = "FT2232H MiniModule A";
inline constexpr unsigned kI2CClockHz = 100000;

// Closes a handle still held in the variable, then opens the channel at 100 kHz into it. On
// failure shows the error box "Error Open Device: FT2232H MiniModule A", leaves the variable null
// and returns -1; 0 on success.
int OpenI2CChannel(void*& handle);

// Closes the channel if the variable holds one; the variable becomes null.
void CloseI2CChannel(void*& handle);
