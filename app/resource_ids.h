#pragma once
// Identifiers of the product assets embedded as RCDATA (app/assets.rc).
#define IDR_AGREEMENT 201
#define IDR_LOGO_PNG 202
#define IDR_FOLDER_GIF 203
#define IDR_INSTALLING_GIF 204
// The same pictures at twice the size, for displays above 96 dpi.
#define IDR_LOGO_2X_PNG 205
#define IDR_FOLDER_2X_GIF 206
#define IDR_INSTALLING_2X_GIF 207
// The product icon: the lowest icon id, so the shell shows it for the file.
#define IDI_PRODUCT 100
