#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_XML_MULTILANGUAGE 130
#define IDS_PRODUCT_NAME 132
#define IDC_PROGRESS 1003
#define IDC_STATUS 1004
#define IDR_XML_PRODUCTS 1005

// Message ids of the MultiLanguage document (not string-table ids).
#define IDS_STRING_UPDATE 131
#define IDS_STRING_WARNING 133
