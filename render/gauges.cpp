// The gauges: plates, masked needle and ring layers, and LCD characters, in a fixed layout.
#include "render/gauges.h"

#include "platform/gl.h"
#include "render/textures.h"

namespace {

constexpr float kDepth = -3.5f;
constexpr float kOilPivotY = -0.04f;

void Quad(float half) {
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-half, -half, 0.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(half, -half, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(half, half, 0.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(-half, half, 0.0f);
    glEnd();
}

// The mask multiplies a hole into the picture, then the colour image is added into it.
// Blending stays on and depth testing off afterwards: later plates add onto the picture.
void MaskedLayer(TextureSlot mask, TextureSlot colour) {
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glBlendFunc(GL_DST_COLOR, GL_ZERO);
    glBindTexture(GL_TEXTURE_2D, panelTextures[mask]);
    Quad(0.95f);
    glBlendFunc(GL_ONE, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, panelTextures[colour]);
    Quad(0.95f);
}

void PlaceAt(float x, float y) {
    glLoadIdentity();
    glTranslatef(x, y, kDepth);
}

void Needle(float angle) {
    glRotatef(-angle, 0.0f, 0.0f, 1.0f);
    MaskedLayer(texAgo2Mask, texAgo2);
}

void FuelFlowDial(float x, float angle) {
    PlaceAt(x, 0.3f);
    DrawPlate(panelTextures[texFuel]);
    Needle(angle);
    PlaceAt(x, 0.3f);
    MaskedLayer(texFuelTopMask, texFuelTop);
}

void OilDial(float x, float pressAngle) {
    PlaceAt(x, -0.1f);
    DrawPlate(panelTextures[texOil]);
    PlaceAt(x, kOilPivotY);
    Needle(pressAngle);
}

void OilTemperatureNeedle(float x, float tempAngle) {
    PlaceAt(x, kOilPivotY);
    Needle(tempAngle);
    PlaceAt(x, kOilPivotY);
    MaskedLayer(texOilTopMask, texOilTop);
}

}  // namespace

void DrawPlate(std::uint32_t texture) {
    glBindTexture(GL_TEXTURE_2D, texture);
    Quad(1.0f);
}

void DrawFuelFlowGauges(float angle1, float angle2) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    FuelFlowDial(-1.0f, angle1);
    FuelFlowDial(1.0f, angle2);
    PlaceAt(-1.0f, -1.5f);
    DrawPlate(panelTextures[texFuelDisp]);
    PlaceAt(1.0f, -1.5f);
    DrawPlate(panelTextures[texFuelDisp]);
}

void DrawOilGauges(float tempAngle1, float pressAngle1, float tempAngle2, float pressAngle2) {
    OilDial(-3.0f, pressAngle1);
    OilDial(3.0f, pressAngle2);
    DrawOilTemperatureNeedles(tempAngle1, tempAngle2);
}

void DrawOilTemperatureNeedles(float tempAngle1, float tempAngle2) {
    OilTemperatureNeedle(-3.0f, tempAngle1);
    OilTemperatureNeedle(3.0f, tempAngle2);
}

void DrawLcdText(const std::string& text, float x, float y) {
    glBindTexture(GL_TEXTURE_2D, texLcd);
    glLoadIdentity();
    glTranslatef(x, y, -7.0f);
    for (unsigned char c : text) {
        if (c <= 31) continue;  // no glyph, and the pen stays
        const int column = (c - 32) % 16;
        const int row = (c - 32) / 16;
        const float s0 = column / 16.0f;
        const float s1 = s0 + 0.0625f;
        const float tTop = 1.0f - row / 16.0f;
        const float tBottom = tTop - 0.0625f;
        glBegin(GL_QUADS);
        glTexCoord2f(s0, tBottom);
        glVertex3f(0.0f, 0.0f, 0.0f);
        glTexCoord2f(s1, tBottom);
        glVertex3f(0.52f, 0.0f, 0.0f);
        glTexCoord2f(s1, tTop);
        glVertex3f(0.52f, 0.52f, 0.0f);
        glTexCoord2f(s0, tTop);
        glVertex3f(0.0f, 0.52f, 0.0f);
        glEnd();
        glTranslatef(0.32f, 0.0f, 0.0f);
    }
}
