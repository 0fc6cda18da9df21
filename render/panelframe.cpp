// The panel frame: the dials with their needles, the mode banners and the fuel-used read-outs.
#include "render/panelframe.h"

#include <string>

#include "platform/gl.h"
#include "render/gauges.h"
#include "render/textures.h"
#include "simlink/panelreading.h"

namespace {

void DrawBanner(TextureSlot slot) {
    glLoadIdentity();
    glColor3f(0.0f, 1.0f, 0.0f);
    glTranslatef(0.0f, 0.0f, -4.5f);
    DrawPlate(panelTextures[slot]);
    glColor3f(1.0f, 1.0f, 1.0f);
}

void DrawReadOut(bool shown, const std::string& text, float x) {
    if (!shown) return;
    glColor3f(1.0f, 1.0f, 1.0f);
    DrawLcdText(text, x, -1.73f);
}

}  // namespace

void DrawPanelFrame(const PanelPicture& picture) {
    DrawFuelFlowGauges(picture.fuelFlowAngle1, picture.fuelFlowAngle2);
    DrawOilGauges(picture.oilTempAngle1, picture.oilPressAngle1, picture.oilTempAngle2, picture.oilPressAngle2);
    if (picture.positionBanner) DrawBanner(texSetPos);
    if (picture.sizeBanner) DrawBanner(texSetSize);
    DrawReadOut(picture.showReadOut1, picture.readOut1, -2.8f);
    DrawReadOut(picture.showReadOut2, picture.readOut2, 1.2f);
}
