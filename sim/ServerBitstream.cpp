#include "sim/ServerBitstream.h"

#include "sim/BitstreamBuilder.h"
#include "sim/Fpga.h"

QByteArray serverBitFile() {
    PayloadOptions payload;
    payload.size = 32 * 1024;
    payload.padding = 16;
    payload.serverMarker = true;
    payload.seed = 36;
    payload.idcode = FpgaOptions().idcode;
    BitFileOptions file;
    // Without a UserID suffix: the part name then ends inside the 64 bytes the program
    // searches, so the operator is shown the part when the server loads.
    file.designName = "bpi_server_v036.ncd";
    file.partName = "3s1600efg320";
    file.date = "2009/06/18";
    file.time = "11:42:07";
    return buildBitFile(buildConfigPayload(payload), file);
}
