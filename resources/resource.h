// Resource identifiers shared by the resource script and the program.
#pragma once

#define IDI_APPICON 1
#define IDB_ABOUTPICTURE 101

#define ZELVO_VERSION_BINARY 1, 0, 0, 0
#define ZELVO_VERSION_TEXT "1.0.0.0"
#define ZELVO_COMPANY "Zelvo Software Studio"
#define ZELVO_COPYRIGHT "Copyright (C) 2026 Zelvo Software Studio"
#define ZELVO_WEB_ADDRESS "http://www.zelvo.example.com"
#define ZELVO_MAIL_ADDRESS "support@zelvo.example.com"
