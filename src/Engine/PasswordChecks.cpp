#include "Engine/PasswordChecks.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <crypt.h>

#include "Engine/Context.h"
#include "Engine/KestrinString.h"

static_assert(CPasswordChecks::MAX_PASSWORD_BYTES == CRYPT_MAX_PASSPHRASE_SIZE,
	"a kept candidate must be refused by the hashing library exactly when the whole one would be");

namespace
{
// How often sources that have been idle long enough are forgotten.
constexpr uint64_t FORGET_SWEEP_MS = 10 * 1000;
// The doublings of the delay never need more than this to reach the cap.
constexpr uint64_t MAX_DELAY_DOUBLINGS = 16;
}

CPasswordChecks::tJob::~tJob()
{
	// The candidate may be the right password: it does not stay behind in freed memory.
	if (!m_Candidate.empty())
		explicit_bzero(&m_Candidate[0], m_Candidate.size());
}

CPasswordChecks::CPasswordChecks(Context* pContext, const char* szLabel, size_t WorkerCount)
	: m_pContext(pContext), m_Label(szLabel ? szLabel : ""), m_WorkerCount(std::max<size_t>(WorkerCount, 1)),
	  m_uiNextTicket(1), m_Running(0), m_uiLastForget(0), m_bWorkersFailed(false), m_bStopping(false),
	  m_Finished(FreeJob)
{
}

CPasswordChecks::~CPasswordChecks()
{
	StopWorkers();
}

uint64_t CPasswordChecks::Request(const char* szSource, const char* szCandidate, size_t CandidateLength,
	const char* szStored)
{
	AutoDelete<tJob> pJob(new tJob());
	const uint64_t uiTicket = m_uiNextTicket++;
	pJob->m_uiTicket = uiTicket;
	pJob->m_Source = szSource ? szSource : "";
	if (szCandidate)
		pJob->m_Candidate.assign(szCandidate, std::min(CandidateLength, static_cast<size_t>(MAX_PASSWORD_BYTES)));
	_strlcpy(pJob->m_szStored, szStored ? szStored : "", sizeof(pJob->m_szStored));

	tSource& Source = m_Sources[pJob->m_Source];
	Source.m_Waiting.push_back(uiTicket);
	m_Waiting.insert(pJob->m_Source);

	tRequest& Request = m_Requests[uiTicket];
	Request.m_Source = pJob->m_Source;
	Request.m_pJob = std::move(pJob);
	return uiTicket;
}

void CPasswordChecks::Cancel(uint64_t uiTicket)
{
	auto Found = m_Requests.find(uiTicket);
	if (Found == m_Requests.end())
		return;
	tRequest& Request = Found->second;
	if (Request.m_pJob.IsNull())
	{
		// Running: its outcome still counts for the source when it comes, but nobody hears of it.
		Request.m_bCancelled = true;
		return;
	}
	const std::string SourceName = Request.m_Source;
	m_Requests.erase(Found);
	auto SourceEntry = m_Sources.find(SourceName);
	if (SourceEntry == m_Sources.end())
		return;
	tSource& Source = SourceEntry->second;
	Source.m_Waiting.erase(std::remove(Source.m_Waiting.begin(), Source.m_Waiting.end(), uiTicket),
		Source.m_Waiting.end());
	if (!Source.m_Waiting.empty())
		return;
	m_Waiting.erase(SourceName);
	// A source that has never failed holds nothing worth keeping.
	if (!Source.m_bRunning && Source.m_uiFailures == 0)
		m_Sources.erase(SourceEntry);
}

void CPasswordChecks::Process(uint64_t uiNowMs, std::vector<tPasswordAnswer>& Answers)
{
	CollectFinished(uiNowMs, Answers);
	StartReady(uiNowMs);
	if (uiNowMs - m_uiLastForget >= FORGET_SWEEP_MS)
		ForgetIdleSources(uiNowMs);
}

void CPasswordChecks::CollectFinished(uint64_t uiNowMs, std::vector<tPasswordAnswer>& Answers)
{
	const size_t Count = m_Finished.Count();
	for (size_t i = 0; i < Count; i++)
	{
		const tJob* pJob = static_cast<const tJob*>(m_Finished.GetEvent(i));
		if (!pJob)
			continue;
		m_Running--;
		NoteResult(pJob->m_Source, pJob->m_bVerified, uiNowMs);
		auto Found = m_Requests.find(pJob->m_uiTicket);
		if (Found == m_Requests.end())
			continue;
		if (!Found->second.m_bCancelled)
			Answers.push_back(tPasswordAnswer{pJob->m_uiTicket, pJob->m_bVerified});
		m_Requests.erase(Found);
	}
	m_Finished.Flush();
}

void CPasswordChecks::NoteResult(const std::string& SourceName, bool bVerified, uint64_t uiNowMs)
{
	auto Found = m_Sources.find(SourceName);
	if (Found == m_Sources.end())
		return;
	tSource& Source = Found->second;
	Source.m_bRunning = false;
	Source.m_uiLastUsed = uiNowMs;
	if (bVerified)
	{
		if (Source.m_Waiting.empty())
			m_Sources.erase(Found);
		else
		{
			Source.m_uiFailures = 0;
			Source.m_uiNotBefore = 0;
			Source.m_bSlowDownLogged = false;
		}
		return;
	}
	Source.m_uiFailures++;
	if (Source.m_uiFailures < SLOW_DOWN_AFTER)
		return;
	const uint64_t uiDoublings = std::min<uint64_t>(Source.m_uiFailures - SLOW_DOWN_AFTER, MAX_DELAY_DOUBLINGS);
	Source.m_uiNotBefore = uiNowMs + std::min<uint64_t>(FIRST_DELAY_MS << uiDoublings, MAX_DELAY_MS);
	if (Source.m_bSlowDownLogged)
		return;
	Source.m_bSlowDownLogged = true;
	if (m_pContext)
		m_pContext->LogWarn("%s: password checks for %s are slowed down after %llu failed attempts", m_Label.c_str(),
			SourceName.c_str(), static_cast<unsigned long long>(Source.m_uiFailures));
}

void CPasswordChecks::StartReady(uint64_t uiNowMs)
{
	if (m_Waiting.empty() || m_Running >= m_WorkerCount)
		return;
	// Sources take turns, so that one with many checks waiting cannot keep the others' from starting.
	std::vector<std::string> Ready;
	const auto Middle = m_Waiting.upper_bound(m_LastStarted);
	const auto Visit = [&](std::set<std::string>::const_iterator First, std::set<std::string>::const_iterator Last) {
		for (auto Name = First; Name != Last && m_Running + Ready.size() < m_WorkerCount; ++Name)
		{
			const tSource& Source = m_Sources[*Name];
			if (!Source.m_bRunning && uiNowMs >= Source.m_uiNotBefore)
				Ready.push_back(*Name);
		}
	};
	Visit(Middle, m_Waiting.cend());
	Visit(m_Waiting.cbegin(), Middle);

	for (const std::string& Name : Ready)
	{
		tSource& Source = m_Sources[Name];
		const uint64_t uiTicket = Source.m_Waiting.front();
		Source.m_Waiting.pop_front();
		if (Source.m_Waiting.empty())
			m_Waiting.erase(Name);
		Source.m_bRunning = true;
		Source.m_uiLastUsed = uiNowMs;
		m_LastStarted = Name;
		m_Running++;
		Submit(std::move(m_Requests[uiTicket].m_pJob));
	}
}

void CPasswordChecks::ForgetIdleSources(uint64_t uiNowMs)
{
	m_uiLastForget = uiNowMs;
	std::vector<std::pair<uint64_t, std::string>> Idle;
	for (auto Entry = m_Sources.begin(); Entry != m_Sources.end();)
	{
		const tSource& Source = Entry->second;
		const bool bIdle = !Source.m_bRunning && Source.m_Waiting.empty();
		if (bIdle && uiNowMs - Source.m_uiLastUsed >= FORGET_AFTER_MS)
		{
			Entry = m_Sources.erase(Entry);
			continue;
		}
		if (bIdle)
			Idle.emplace_back(Source.m_uiLastUsed, Entry->first);
		++Entry;
	}
	if (Idle.size() <= MAX_IDLE_SOURCES)
		return;
	// Too many addresses have failed lately: the longest idle are forgotten first.
	const size_t Excess = Idle.size() - MAX_IDLE_SOURCES;
	std::nth_element(Idle.begin(), Idle.begin() + static_cast<ptrdiff_t>(Excess), Idle.end());
	for (size_t i = 0; i < Excess; i++)
		m_Sources.erase(Idle[i].second);
}

void CPasswordChecks::Submit(AutoDelete<tJob> pJob)
{
	if (!StartWorkers())
	{
		// Without a thread the check runs here: slow, but a right password still gets in.
		pJob->m_bVerified = VerifyPassword(pJob->m_Candidate.c_str(), pJob->m_szStored);
		m_Finished.Push(pJob.Detach());
		return;
	}
	{
		CLockable::CLock Lock(m_JobLock);
		m_Jobs.push_back(pJob.Detach());
	}
	m_JobCount.Post();
}

bool CPasswordChecks::StartWorkers()
{
	if (!m_Workers.empty())
		return true;
	if (m_bWorkersFailed)
		return false;
	for (size_t i = 0; i < m_WorkerCount; i++)
	{
		AutoDelete<CThreadCB> pWorker(new CThreadCB("PasswordCheck", WorkerMain, this));
		if (pWorker->Start())
			m_Workers.push_back(std::move(pWorker));
	}
	if (!m_Workers.empty())
		return true;
	m_bWorkersFailed = true;
	if (m_pContext)
		m_pContext->LogError("%s: cannot start the password check threads; passwords are checked on the main thread",
			m_Label.c_str());
	return false;
}

void CPasswordChecks::StopWorkers()
{
	{
		CLockable::CLock Lock(m_JobLock);
		m_bStopping = true;
	}
	for (size_t i = 0; i < m_Workers.size(); i++)
		m_JobCount.Post();
	for (AutoDelete<CThreadCB>& pWorker : m_Workers)
		pWorker->Join();
	m_Workers.clear();
	for (tJob* pJob : m_Jobs)
		FreeJob(pJob);
	m_Jobs.clear();
}

int CPasswordChecks::WorkerMain(Thread* /*pThread*/, void* pUserData)
{
	CPasswordChecks* pChecks = static_cast<CPasswordChecks*>(pUserData);
	for (;;)
	{
		pChecks->m_JobCount.Wait();
		tJob* pJob = nullptr;
		{
			CLockable::CLock Lock(pChecks->m_JobLock);
			if (pChecks->m_bStopping)
				return 0;
			if (pChecks->m_Jobs.empty())
				continue;
			pJob = pChecks->m_Jobs.front();
			pChecks->m_Jobs.pop_front();
		}
		pJob->m_bVerified = VerifyPassword(pJob->m_Candidate.c_str(), pJob->m_szStored);
		pChecks->m_Finished.Push(pJob);
	}
}

void CPasswordChecks::FreeJob(void* pJob)
{
	delete static_cast<tJob*>(pJob);
}
