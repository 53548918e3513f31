#pragma once
// The console command "dumpdoc": writes the whole script interface as it stands (constants, event types, commands,
// and the tree of namespaces, functions, properties and classes) as four XML files into the folder
// "Documentation" of the program's directory.

#include <unordered_map>

#include "Scripting/ResourceMgr.h"

class ReflectedClass;
class ReflectedNamespace;
class TiXmlElement;

class CDumpDocumentationCommandHandler : public CResourceCommandHandler
{
public:
	using CResourceCommandHandler::CResourceCommandHandler;

	// Writes Defines.xml, EventTypes.xml, Commands.xml and Documentation.xml; the arguments are not used. Replies
	// "Documentation dumped" when all four were written, else an error naming each file that could not be.
	void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) override;

	// Writes the namespace and everything below it as a new child of pParent, and returns that child.
	TiXmlElement* DebugDumpNamespace(ReflectedNamespace* pNamespace, TiXmlElement* pParent);

private:
	// The element written for each class during the current dump, so derived classes go inside their base's.
	std::unordered_map<ReflectedClass*, TiXmlElement*> m_ClassElements;
};
