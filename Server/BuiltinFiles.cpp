#include "BuiltinFiles.h"

#include "Engine/BuiltinArchive.h"
#include "Engine/Context.h"
#include "Engine/FileSystem.h"
#include "Engine/KestrinStream.h"
#include "Engine/Tar.h"

void MountBuiltinArchive(Context& ProcessContext)
{
	Strong<Stream> pImage = Strong<Stream>::New(new CMemoryStream(g_BuiltinArchive, g_BuiltinArchiveSize));
	CTARArchive* pArchive = new CTARArchive();
	pArchive->SetCaseSensitive(true);
	if (pArchive->Read(pImage))
		ProcessContext.GetFileSystem()->Mount(pArchive);
	else
		delete pArchive;
}
