// Window details the SDL backend does through X11 (sdl_x11.cpp). Each answers false, doing
// nothing, when the window is not on an X server.
#pragma once

#include "platform/platform.h"

struct SDL_Window;

// The window's visible shape: the client rectangles given (client coordinates) plus the menu
// bar's `top` rows above them; count 0 gives the whole window back.
bool SdlX11SetShape(SDL_Window* window, const PlatRect* rects, int count, int top);
// Stacking: `how` 0 to the top of the normal windows, 1 to the bottom, 2 right behind `sibling`.
bool SdlX11Restack(SDL_Window* window, int how, SDL_Window* sibling);
// The caption's maximise button shown or left out.
bool SdlX11SetMaximizeBox(SDL_Window* window, bool shown);
// Gives the window the keyboard focus when the server can: a window not viewable yet or any more
// cannot have it, and is left alone rather than ending the program with an X error.
bool SdlX11Focus(SDL_Window* window);
// Brings a minimised window back: asks the window manager to map and activate it, without
// waiting for it.
bool SdlX11Deiconify(SDL_Window* window);
// Makes a window not yet shown a dialog of `owner` (which may be null): the window type dialog,
// transient for the owner, a caption with only the close button and no resizing border.
bool SdlX11MakeDialog(SDL_Window* window, SDL_Window* owner);
