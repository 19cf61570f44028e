// The signed report of a board that passed, and the PASS/FAIL boxes.
//
// A report holds eleven lines ending in "\r\n"; the last is the upper-case hexadecimal MD5 of the
// ten lines before it (their "\r\n" included) followed by HASH_SALT.
#pragma once

#include <cstdint>
#include <string>

// What the test cycle hands to the report writer.
struct ReportValues {
    uint32_t serial = 0;               // board serial number typed by the operator
    std::string outputFolder;          // without trailing separators
    uint64_t temperatureSensor = 0;    // 1-Wire identities of the board's sensors
    uint64_t adcSensor1 = 0;
    uint64_t adcSensor2 = 0;
    double operatorCurrent = 0.0;      // board current typed by the operator (A)
    float vin = 0.0f;                  // supply values (V, V, A)
    float vmem = 0.0f;
    float current = 0.0f;
    uint8_t powerFlags = 0;            // _POWERFLAGS packed (qbx_board.h)
    float temperature = 0.0f;          // board temperature (degrees C)
    std::string vectorsDigest;         // the vector file's digest text
};

// outputFolder + "/QBX_<serial>_<temperature sensor identity in upper-case hex>.txt" (the board
// description's report name).
std::string ReportPath(const std::string& outputFolder, uint32_t serial, uint64_t temperatureSensor);

// The eleven lines of the report, signed. False (text unchanged) when the digest cannot be
// computed.
bool FormatReport(const ReportValues& values, std::string& text);

// Writes the report of a passing board and returns its path. The report is written to a temporary
// file in the output folder and renamed into place, replacing an earlier report of the same name,
// so a crash never leaves a half-written report. When the digest cannot be computed,
// "ERROR Signing output file %s\r\n" is reported; when the file cannot be written,
// "ERROR Open output file %s \r\n" and, on the console only, the reason. Either way the board
// fails (ReportError) and no new report exists. written, when given, tells whether the report was
// written.
std::string WriteReport(const ReportValues& values, bool* written = nullptr);

// The result boxes at the end of a board's cycle. The FAIL box adds why the error file is
// incomplete when a write to it failed.
void ShowSuccessBox(const std::string& reportPath);
void ShowFailBox(const std::string& errorFilePath, const std::string& errorFileFailure = "");
