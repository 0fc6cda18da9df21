// The simulator variables behind the panel: the per-frame sample, the process-wide needle values, the reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// The raw values of one frame, in the simulator's widths and signedness.
struct FlightSample {
    double fuelFlowPph1;
    double fuelFlowPph2;
    std::int16_t oilTempRaw1;
    std::int16_t oilTempRaw2;
    std::uint16_t oilPressRaw1;
    std::uint16_t oilPressRaw2;
    std::uint16_t combustion1;
    std::uint16_t combustion2;
    std::int16_t paused;
    std::uint8_t inMenu;
};

// Where a variable's value lands in its record, and in which width and signedness.
enum class FieldType : std::uint8_t { Float64, Int32, Int16, UInt16, UInt8 };

// One simulator variable: its FSUIPC offset and byte count, the size and kind texts of the same
// variable as a server request, and the field of the record it fills.
struct PanelVariable {
    std::uint32_t offset;
    std::uint32_t bytes;
    const char* sizeText;
    const char* kindText;
    std::size_t field;  // byte offset of the field in its record
    FieldType type;
};
// Read in this order at the start of every frame, each into its FlightSample field.
extern const PanelVariable kFrameVariables[10];

// The tank variables of the start-up read, in the simulator's encodings.
struct StartupSample {
    std::int32_t capacityLeft;
    std::int32_t capacityRight;
    std::int32_t levelLeft;
    std::int32_t levelRight;
};
// Read when a window is created: left and right main tank capacity, then left and right level.
extern const PanelVariable kStartupVariables[4];

// The field of record (a FlightSample or StartupSample) that variable fills.
void* FieldOf(void* record, const PanelVariable& variable);

// One variable's value as a number, as a server gives it.
using RemoteVariableReader = std::function<double(const PanelVariable&)>;

struct PanelValues {
    float fuelFlowAngle1, fuelFlowAngle2;
    float oilPressAngle1, oilPressAngle2;
    float oilTempAngle1, oilTempAngle2;
    double fuelUsed1, fuelUsed2;
    double fuelUsedShown1, fuelUsedShown2;
};
extern PanelValues panelValues;

// Main tank contents from the start-up read (capacity units); no gauge shows them.
extern std::int64_t mainTankLeftContents;
extern std::int64_t mainTankRightContents;

// Start-up read on the FSUIPC road: the four tank variables in one exchange; failures leave zeros.
void ReadStartupTanksFsuipc();
// Contents of one tank: capacity x (level x 100 / 8388608 x 0.01), level x 100 in 32-bit arithmetic,
// rounded to a whole number.
std::int64_t TankContents(std::int32_t capacity, std::int32_t level);

// Per-frame read step on the FSUIPC road: zeroes the sample, queues the ten reads into its fields,
// processes them in one exchange (result ignored) and sleeps 1 ms.
void ReadFlightSampleFsuipc(FlightSample& sample);

// The same two reads on the network road: one request per variable through read, in table order, each
// waiting for its reply; no sleep after them. Errors of a lost connection pass to the caller.
void ReadStartupTanksNetwork(const RemoteVariableReader& read);
void ReadFlightSampleNetwork(FlightSample& sample, const RemoteVariableReader& read);

// Fuel flows of one sample in kilograms per hour.
struct FuelFlowKg {
    double engine1;
    double engine2;
};
// Sets the six needle angles of panelValues from the sample (fuel flow, oil pressure, oil temperature;
// engine 1 then 2) and gives both fuel flows in kg/h.
FuelFlowKg ApplySampleToPanel(const FlightSample& sample);

// A server's number as an integer: nearest, halves to even; 0 when not finite or beyond 64 bits.
std::int64_t RoundHalfEven(double value);
// Stores a server's number into the record field of a variable: a double keeps the number, an
// integer field takes it rounded and cut to the field's width (same bits for signed fields).
void StoreNetworkNumber(void* record, const PanelVariable& variable, double value);
// The same for the sample field of a per-frame row (0-based, table order).
void StoreNetworkNumber(FlightSample& sample, int row, double value);
