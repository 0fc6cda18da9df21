// One complete panel picture per call, for the FSUIPC road and for the network road.
#pragma once

bool DrawPanelFsuipc();
bool DrawPanelNetwork();
