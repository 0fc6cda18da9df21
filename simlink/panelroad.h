// Where a frame's values come from: the road chosen once at start, FSUIPC link or network server.
#pragma once

#include <string>

struct FlightSample;

class IPanelRoad {
public:
    virtual ~IPanelRoad() = default;
    // The window title: the road's name, or what went wrong when the last Open failed.
    virtual std::string Title() const = 0;
    // With every window creation: connects where the road needs it and does the start-up read.
    // False when the road cannot serve at all (the window's set-up then fails).
    virtual bool Open() = 0;
    // One frame's values into a zeroed sample; a road that is not open leaves zeros.
    virtual void ReadSample(FlightSample& sample) = 0;
    // With the window's release.
    virtual void Close() = 0;
    // True where an engine burns fuel only while its combustion flag is 1.
    virtual bool BurnsOnlyWhileCombustion() const = 0;
};
