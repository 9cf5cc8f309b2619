// Loading a message by its number (a result code, or a text such as the
// diskette note) for display.
#pragma once

#include "platform/win.h"
#include "ui/result_codes.h"

// Every message is loaded into a buffer of this size, told that one byte
// less is available: a message holds at most 998 bytes and its terminator.
const int kMessageBufferSize = 1000;

// Loads message `nId` in the user's language; an empty text when there is none.
void LoadMessage(UINT nId, char (&szBuffer)[kMessageBufferSize]);
