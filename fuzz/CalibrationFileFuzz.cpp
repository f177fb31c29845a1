// Calibration text files: whatever parses must fill, build the Quantizer's
// record, and survive its own round trip: the filled table written out and
// read back gives the same values.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/dialogs/CalibrationFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int32_t maxIndex = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<QZ::CalibrationLine> lines;
    std::string error;
    if (!QZ::ParseCalibrationFile(text, maxIndex, lines, error))
        return 0;
    const QZ::FilledCalibration filled = QZ::FillCalibration(lines, maxIndex + 1);
    QuantizerCalibration record{};
    QZ::BuildQuantizerCalibration(lines, record, error);

    const std::string written = QZ::FormatCalibrationFile(filled.values.data(), filled.read.data(), filled.values.size());
    std::vector<QZ::CalibrationLine> again;
    if (!QZ::ParseCalibrationFile(written, maxIndex, again, error))
        abort(); // what we write, we must read
    const QZ::FilledCalibration refilled = QZ::FillCalibration(again, maxIndex + 1);
    for (size_t i = 0; i < filled.values.size(); ++i)
        if (filled.read[i] && refilled.values[i] != filled.values[i])
            abort();
    return 0;
}
