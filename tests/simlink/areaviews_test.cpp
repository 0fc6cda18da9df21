// The simulator half's views of request areas, against real named mappings made by the client half:
// whatever it keeps mapped between messages, every open reaches the area its name leads to now.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ipc.h"
#include "platform/process.h"

namespace {

constexpr std::uint32_t kSize = 0x8000;

// A client's area: the named mapping and the client's own view of it.
struct ClientArea {
    std::string name;
    plat::IpcMapping mapping = 0;
    std::uint8_t* view = nullptr;

    explicit ClientArea(int index)
        : name("KovexViewTest:" + std::to_string(plat::CurrentProcessId()) + ":" + std::to_string(index)) {
        Create();
    }
    ~ClientArea() { Remove(); }
    void Create() {
        bool exists = false;
        mapping = plat::IpcCreateMapping(name.c_str(), kSize, &exists);
        ASSERT_NE(mapping, 0u);
        view = static_cast<std::uint8_t*>(plat::IpcMapView(mapping, kSize));
        ASSERT_NE(view, nullptr);
    }
    void Remove() {
        plat::IpcUnmapView(view, kSize);
        plat::IpcCloseMapping(mapping);
        view = nullptr;
        mapping = 0;
    }
};

// Serves one message the way the simulator does: open by name, write, close.
bool Serve(const ClientArea& area, std::uint8_t value, std::uint32_t at = 100) {
    auto* view = static_cast<std::uint8_t*>(plat::IpcOpenMappingView(area.name.c_str(), kSize));
    if (!view) return false;
    view[at] = value;
    plat::IpcCloseMappingView(view, kSize);
    return true;
}

// Catches: an area served after its client removed it, or a new area under an old name missed.
TEST(AreaViews, ReopenedAreaUnderTheSameNameIsTheOneServed) {
    ClientArea area(0);
    ASSERT_TRUE(Serve(area, 0x11));
    EXPECT_EQ(area.view[100], 0x11);
    ASSERT_TRUE(Serve(area, 0x12));
    EXPECT_EQ(area.view[100], 0x12);

    area.Remove();
    EXPECT_EQ(plat::IpcOpenMappingView(area.name.c_str(), kSize), nullptr);

    area.Create();
    ASSERT_TRUE(Serve(area, 0x22));
    EXPECT_EQ(area.view[100], 0x22);
    area.Remove();
    area.Create();
    ASSERT_TRUE(Serve(area, 0x33));
    EXPECT_EQ(area.view[100], 0x33);
}

// Catches: areas of several clients mixed up, or a view unmapped while it is still open.
TEST(AreaViews, ManyAreasAndViewsStillOpen) {
    std::vector<std::unique_ptr<ClientArea>> areas;
    for (int i = 0; i < 7; ++i) areas.push_back(std::make_unique<ClientArea>(10 + i));

    std::vector<std::uint8_t*> open;
    for (auto& a : areas) {
        open.push_back(static_cast<std::uint8_t*>(plat::IpcOpenMappingView(a->name.c_str(), kSize)));
        ASSERT_NE(open.back(), nullptr);
    }
    for (int round = 0; round < 3; ++round)
        for (std::size_t i = 0; i < areas.size(); ++i)
            ASSERT_TRUE(Serve(*areas[i], static_cast<std::uint8_t>(i + round), 200));
    // Every view opened first is still mapped and still its own area's.
    for (std::size_t i = 0; i < areas.size(); ++i) {
        open[i][300] = static_cast<std::uint8_t>(0x40 + i);
        EXPECT_EQ(areas[i]->view[300], 0x40 + i);
        EXPECT_EQ(areas[i]->view[200], i + 2);
    }

    // A view open while its client removes the area stays usable until it is closed, also when the
    // name is looked up again meanwhile.
    areas[0]->Remove();
    if (void* again = plat::IpcOpenMappingView(areas[0]->name.c_str(), kSize)) plat::IpcCloseMappingView(again, kSize);
    open[0][400] = 1;
    for (auto* v : open) plat::IpcCloseMappingView(v, kSize);
    areas[0]->Create();
    ASSERT_TRUE(Serve(*areas[0], 0x55));
    EXPECT_EQ(areas[0]->view[100], 0x55);
}

}  // namespace
