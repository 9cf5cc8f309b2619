#include "ui/messages.h"

#include "platform/win.h"

void LoadMessage(UINT nId, char (&szBuffer)[kMessageBufferSize]) {
    szBuffer[0] = '\0';
    LoadStringA(nullptr, nId, szBuffer, kMessageBufferSize - 1);
}
