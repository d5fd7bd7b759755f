// Resource identifiers shared by the resource script and the program.
#pragma once

#define IDI_APPICON 1
#define IDB_ABOUTPICTURE 101

#include "ZelvoVersion.h"

#define ZELVO_COMPANY "Zelvo Software Studio"
// The About box shows the copyright line at 120 and the addresses at 181 in a
// panel whose inside ends at 342: in 宋体's 6-pixel cells (one per GBK byte)
// they fit in 37 and 26 bytes.
#define ZELVO_COPYRIGHT "版权所有 (C) 2026 Zelvo软件工作室"
#define ZELVO_WEB_ADDRESS "http://zelvo.example.com"
#define ZELVO_MAIL_ADDRESS "support@zelvo.example.com"
