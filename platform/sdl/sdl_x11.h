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
// Hands a left-button drag that began in the window to the window manager, which moves the
// window as by its caption (_NET_WM_MOVERESIZE); false when no manager does that.
bool SdlX11BeginMove(SDL_Window* window);
// The pointer's place on the screen of the window and whether its left button is down, asked
// of the X server: SDL keeps its own answer from input events that a pointer moved by another
// program (XTest) need not cause.
bool SdlX11Pointer(SDL_Window* window, int* x, int* y, bool* leftDown);
// Whether the window manager has the window maximised.
bool SdlX11IsMaximized(SDL_Window* window);
// The loss of the display's connection (the X server ended or was cut off) no longer ends the
// process inside Xlib: the handler of PlatSetDisplayLostHandler runs, then the process ends
// with a line and status 1. A request the server refuses (a window destroyed meanwhile) no
// longer ends it at all.
void SdlX11CatchDisplayErrors();
// Keeps the window out of the taskbar.
bool SdlX11SetSkipTaskbar(SDL_Window* window);
