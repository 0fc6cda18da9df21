// One complete panel picture per call: the dials, the mode banners and the read-outs.
#pragma once

struct PanelPicture;

// Draws what the picture holds and reads nothing else.
void DrawPanelFrame(const PanelPicture& picture);
