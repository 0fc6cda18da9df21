// OpenGL 1.1 and GLU for the drawing code; the one place that knows how the system ships them.
#pragma once

#if defined(_WIN32) && !(defined(WINGDIAPI) && defined(APIENTRY))
// The Windows GL headers want a few calling-convention words from the desktop's headers; they are
// given here so drawing code does not take in the whole desktop with its renaming macros.
#define KOVEX_GL_WORDS_DEFINED
#define WINGDIAPI __declspec(dllimport)
#define APIENTRY __stdcall
#ifndef CALLBACK
#define KOVEX_GL_CALLBACK_DEFINED
#define CALLBACK __stdcall
#endif
#include <cstddef>
#endif

#include <GL/gl.h>
#include <GL/glu.h>

#ifdef KOVEX_GL_WORDS_DEFINED
#undef KOVEX_GL_WORDS_DEFINED
#undef WINGDIAPI
#undef APIENTRY
#ifdef KOVEX_GL_CALLBACK_DEFINED
#undef KOVEX_GL_CALLBACK_DEFINED
#undef CALLBACK
#endif
#endif
