// The questions put to the Windows Installer service.
#pragma once

#include <string>

// Buffer sizes, in UTF-16 units with the terminator.
constexpr unsigned kTargetListChars = 2048;
constexpr unsigned kProductPropertyChars = 1024;

// Reads summary property 7 (the ";"-separated target product codes) of the
// package. targetList is replaced only on success.
bool ReadPatchTargets(std::u16string packagePath, std::u16string& targetList);

// True when the installer reports the product installed (5) or advertised (1).
bool IsProductInstalled(const std::u16string& productCode);

// The product's "VersionString" property.
std::u16string GetInstalledVersion(const std::u16string& productCode);

// The product's "ProductName" and "Language" properties. Always true.
bool GetProductNameAndLanguage(const std::u16string& productCode, std::u16string& productName,
                               std::u16string& language);
