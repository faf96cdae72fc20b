#include "xmessage.h"

#include <windows.h>

void StampMessage(TXMessage* Record, TXObject* Sender) {
    Record->Sender = Sender;
    Record->Time = GetTickCount();
    Record->Posted = 1;
}
