// Panel frames. The gauges are not drawn yet: a frame clears the picture and nothing more.
#include "render/panelframe.h"

#include <GL/gl.h>

bool DrawPanelFsuipc() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    return true;
}

bool DrawPanelNetwork() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    return true;
}
