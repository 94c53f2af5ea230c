// The command's version reports: the banner of "-V", the seven-line report
// of "-version", and "-version all", which adds the report of the backup
// services library named by BAR_BSALIB_PATH.
#pragma once

void zutevVersionBanner();
void zutevVersionReport();
// Returns the exit code: 0, or 1 when the configuration cannot be loaded.
int zutevVersionAll();
