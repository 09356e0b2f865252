#pragma once
// Identifiers of the product assets embedded as RCDATA (app/assets.rc).
#define IDR_AGREEMENT 201
#define IDR_LOGO_PNG 202
#define IDR_FOLDER_GIF 203
#define IDR_INSTALLING_GIF 204
// The product icon: the lowest icon id, so the shell shows it for the file.
#define IDI_PRODUCT 100
