#include "writers/plxJar.h"

TJar::TJar(TObject* AOwner) : TZip(AOwner)
{
    FOwnType = atJar;
    FArcType = atJar;
    FClassDefaultExt = ".JAR";
    SetDefaultExt("");
    CompressMethod.Restrict({cmStore, cmDeflate}, cmDeflate);
}
