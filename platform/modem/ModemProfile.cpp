#include "platform/modem/ModemProfile.h"

void ModemProfile::reset()
{
    s.fill(0);
    s[kEscapeCharacter] = '+';
    s[kLineEnd] = '\r';
    s[kLineFeed] = '\n';
    s[kBackspace] = 8;
    s[6] = 2;    // seconds to wait for a dial tone: no dial tone here, kept as modems have it
    s[kAnswerWait] = 50;
    s[8] = 2;    // the pause of a comma in a dial string
    s[9] = 6;    // carrier detect response time
    s[kCarrierLossDelay] = 14;
    s[11] = 95;  // touch-tone duration
    s[kGuardTime] = 50;
    s[kDtrDelay] = 5;
    echo = true;
    verbose = true;
    quiet = false;
    resultSet = 4;
    dcdAlwaysOn = false;
    dtr = DtrAction::HangUp;
    rtsFlowControl = true;
}
