// OpenGL 1.1 and GLU for the drawing code; the one place that knows how the system ships them.
#pragma once

#include <GL/gl.h>
#include <GL/glu.h>
