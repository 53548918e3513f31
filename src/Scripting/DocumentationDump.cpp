#include "Scripting/DocumentationDump.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <tinyxml.h>

#include "Engine/Defines.h"
#include "Engine/FileSystem.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinString.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/Resource.h"

namespace
{
const char* const DOCUMENTATION_FOLDER = "Documentation";

// What the masks in the "Mask" attributes mean, at the top of Documentation.xml.
const char* const MASK_LEGEND = "\n"
								"        Mask Values\n"
								"\n"
								"        b - bool\n"
								"        i - int32\n"
								"        f - float\n"
								"        s - string\n"
								"        c - function/callback\n"
								"        x - class/instance\n"
								"        z - vector2D\n"
								"        v - vector3D\n"
								"        t - thiscall\n"
								"        | - optional arguments\n"
								"        * - infinite arguments\n"
								"        . - any type\n"
								"    ";

// Names come from scripts and modules as well as from the engine. Control characters and bytes that are not
// UTF-8 cannot stand in an XML file, so they are written as "\xHH" and the files always parse.
std::string XmlText(const char* szText)
{
	return szText ? StringManager::EscapeControlCharacters(szText, strlen(szText)) : std::string();
}

// A comment cannot hold "--" or end in "-".
std::string CommentText(const char* szText)
{
	const std::string Text = XmlText(szText);
	std::string Result;
	Result.reserve(Text.size());
	for (char c : Text)
	{
		if (c == '-' && !Result.empty() && Result.back() == '-')
			Result += ' ';
		Result += c;
	}
	if (!Result.empty() && Result.back() == '-')
		Result += ' ';
	return Result;
}

void SetTextAttribute(TiXmlElement* pElement, const char* szName, const char* szValue)
{
	pElement->SetAttribute(szName, XmlText(szValue).c_str());
}

void SetBooleanAttribute(TiXmlElement* pElement, const char* szName, bool bValue)
{
	pElement->SetAttribute(szName, bValue ? "true" : "false");
}

void SetUnsignedAttribute(TiXmlElement* pElement, const char* szName, unsigned long long ullValue)
{
	char szValue[24];
	snprintf(szValue, sizeof(szValue), "%llu", ullValue);
	pElement->SetAttribute(szName, szValue);
}

// TinyXML owns what is linked into its tree; these make the element and link it in one step.
TiXmlElement* AppendElement(TiXmlNode* pParent, const char* szName)
{
	return pParent->LinkEndChild(new TiXmlElement(szName))->ToElement();
}

// A document with the declaration and its root element.
TiXmlElement* StartDocument(TiXmlDocument& Document, const char* szRoot)
{
	Document.LinkEndChild(new TiXmlDeclaration("1.0", "", ""));
	return AppendElement(&Document, szRoot);
}

const char* GetTypeName(uint8_t ucType)
{
	switch (ucType)
	{
	case ARGUMENT_NIL:
		return "void";
	case ARGUMENT_BOOLEAN:
		return "bool";
	case ARGUMENT_STRING:
		return "string";
	case ARGUMENT_INTEGER:
		return "int";
	case ARGUMENT_FLOAT:
	case ARGUMENT_DOUBLE:
		return "number";
	case ARGUMENT_NETOBJECT:
		return "NetObject";
	case ARGUMENT_OBJECT:
		return "Object";
	case ARGUMENT_VECTOR2D:
		return "Vector2D";
	case ARGUMENT_VECTOR3D:
		return "Vector3D";
	case ARGUMENT_VECTOR4D:
		return "Vector4D";
	case ARGUMENT_MATRIX4X4:
		return "Matrix4x4";
	case ARGUMENT_LONGINTEGER:
		return "int64";
	default:
		return nullptr;
	}
}

void WriteProperty(TiXmlElement* pParent, const ReflectedProperty* pProperty)
{
	TiXmlElement* pElement = AppendElement(pParent, "Property");
	SetTextAttribute(pElement, "Name", pProperty->GetName());
	SetBooleanAttribute(pElement, "ReadOnly", pProperty->IsReadOnly());
	SetBooleanAttribute(pElement, "Obsolete", pProperty->m_bObsolete);
	if (const char* szType = GetTypeName(pProperty->m_ucType))
		pElement->SetAttribute("Type", szType);
}

void WriteFunction(TiXmlElement* pParent, const ReflectedFunction* pFunction)
{
	TiXmlElement* pElement = AppendElement(pParent, "Function");
	SetTextAttribute(pElement, "Name", pFunction->GetName());
	SetTextAttribute(pElement, "Mask", pFunction->m_Function.GetMask());
	SetUnsignedAttribute(pElement, "RequiredArguments", pFunction->m_Function.CalcArgumentCount());
	SetBooleanAttribute(pElement, "Obsolete", pFunction->m_bObsolete);
}

void WriteDefines(TiXmlDocument& Document, const CDefineHandlers* pDefines)
{
	TiXmlElement* pRoot = StartDocument(Document, "Defines");
	if (!pDefines)
		return;
	for (const IntDefine& Define : pDefines->GetDefines())
	{
		TiXmlElement* pElement = AppendElement(pRoot, "Define");
		SetTextAttribute(pElement, "Name", Define.m_Name.c_str());
		char szValue[16];
		if (Define.m_bUnsigned)
			snprintf(szValue, sizeof(szValue), "%u", Define.m_uiValue);
		else
			snprintf(szValue, sizeof(szValue), "%d", Define.GetSignedValue());
		pElement->SetAttribute("Value", szValue);
	}
}

void WriteEventTypes(TiXmlDocument& Document, const EventHandlers::CEventHandlers* pEvents)
{
	TiXmlElement* pRoot = StartDocument(Document, "EventTypes");
	if (!pEvents)
		return;
	for (const auto& Entry : pEvents->GetEventTypes())
	{
		const EventHandlers::CEventType* pType = Entry.second;
		pRoot->LinkEndChild(new TiXmlComment(CommentText(pType->GetDescription()).c_str()));
		TiXmlElement* pElement = AppendElement(pRoot, "EventType");
		SetTextAttribute(pElement, "Name", pType->GetName());
		SetUnsignedAttribute(pElement, "Hash", pType->GetKey());
		if (pType->GetArgumentCount() != -1)
			pElement->SetAttribute("Arguments", pType->GetArgumentCount());
		SetBooleanAttribute(pElement, "CanPreventDefault", pType->CanPreventDefault());
	}
}

void WriteCommands(TiXmlDocument& Document, const CCommandHandlers* pCommands)
{
	TiXmlElement* pRoot = StartDocument(Document, "Commands");
	if (!pCommands)
		return;
	for (const auto& Entry : pCommands->GetHandlers())
	{
		for (const CCommandHandler* pHandler : Entry.second)
		{
			TiXmlElement* pElement = AppendElement(pRoot, "Command");
			SetTextAttribute(pElement, "Name", pHandler->GetName());
			SetUnsignedAttribute(pElement, "Hash", Entry.first);
		}
	}
}

// TinyXML's own save ignores a failing close, which is where a full disk shows.
bool SaveDocument(const TiXmlDocument& Document, const std::string& Path)
{
	FILE* pFile = fopen(Path.c_str(), "w");
	if (!pFile)
		return false;
	const bool bWritten = Document.SaveFile(pFile);
	return fclose(pFile) == 0 && bWritten;
}
}

TiXmlElement* CDumpDocumentationCommandHandler::DebugDumpNamespace(ReflectedNamespace* pNamespace,
	TiXmlElement* pParent)
{
	TiXmlElement* pElement = new TiXmlElement("Namespace");
	SetTextAttribute(pElement, "Name", pNamespace->GetName());

	for (const ReflectedProperty* pProperty : pNamespace->GetProperties())
		WriteProperty(pElement, pProperty);
	for (const ReflectedFunction* pFunction : pNamespace->GetFunctions())
		WriteFunction(pElement, pFunction);

	for (ReflectedClass* pClass : pNamespace->GetClasses())
	{
		// A class goes inside its base's element; a base not written yet (declared later, or in a namespace
		// written later) leaves the class in its own namespace.
		TiXmlElement* pClassParent = pElement;
		if (ReflectedClass* pBase = pClass->GetBaseClass())
		{
			auto Found = m_ClassElements.find(pBase);
			if (Found != m_ClassElements.end())
				pClassParent = Found->second;
		}
		TiXmlElement* pClassElement = AppendElement(pClassParent, "Class");
		SetTextAttribute(pClassElement, "Name", pClass->GetName());
		for (const ReflectedProperty* pProperty : pClass->GetProperties())
			WriteProperty(pClassElement, pProperty);
		for (const ReflectedFunction* pFunction : pClass->GetFunctions())
			WriteFunction(pClassElement, pFunction);
		m_ClassElements[pClass] = pClassElement;
	}

	for (ReflectedNamespace* pChild : pNamespace->GetNamespaces())
		DebugDumpNamespace(pChild, pElement);

	pParent->LinkEndChild(pElement);
	return pElement;
}

void CDumpDocumentationCommandHandler::Execute(const char*, const char*, CBaseObject*)
{
	CFileSystem* pFileSystem = m_pResourceMgr->GetFileSystem();
	char szRoot[4096];
	if (!pFileSystem || !pFileSystem->ResolvePath(szRoot, sizeof(szRoot)))
	{
		Reply(LOGTYPE_ERROR, "Failed to find the program's folder for the documentation");
		return;
	}
	const std::string Folder = PathUtil::AppendPath(szRoot, DOCUMENTATION_FOLDER);
	// A folder that cannot be made shows as files that cannot be written.
	CFileMgr::MakeDirectory(Folder.c_str());

	TiXmlDocument Defines;
	WriteDefines(Defines, m_pResourceMgr->GetDefineHandlers());
	TiXmlDocument EventTypes;
	WriteEventTypes(EventTypes, m_pResourceMgr->GetEventHandlers());
	TiXmlDocument Commands;
	WriteCommands(Commands, m_pResourceMgr->GetCommandHandlers());
	TiXmlDocument Interface;
	TiXmlElement* pRoot = StartDocument(Interface, "Documentation");
	m_ClassElements.clear();
	pRoot->LinkEndChild(new TiXmlComment(MASK_LEGEND));
	DebugDumpNamespace(m_pResourceMgr->GetScripting()->GetGlobal(), pRoot);
	// The elements belong to this run's document.
	m_ClassElements.clear();

	struct tFile
	{
		const char* m_szName;
		const TiXmlDocument* m_pDocument;
	};
	const tFile rgFiles[] = {
		{"Defines.xml", &Defines},
		{"EventTypes.xml", &EventTypes},
		{"Commands.xml", &Commands},
		{"Documentation.xml", &Interface},
	};
	bool bDumped = true;
	for (const tFile& File : rgFiles)
	{
		const std::string Path = PathUtil::AppendPath(Folder.c_str(), File.m_szName);
		if (!SaveDocument(*File.m_pDocument, Path))
		{
			Reply(LOGTYPE_ERROR, "Failed to write %s", Path.c_str());
			bDumped = false;
		}
	}
	if (bDumped)
		Reply(LOGTYPE_INFO, "Documentation dumped");
}
