#pragma once
// The printer check after a complete download, with the connection it asks over: both are
// let go on the driver's worker, the connection after the job. The check's result is kept in
// `result` (a PrinterReady value) for the dialog's status line.
#include "app/Clock.h"
#include "app/StepJob.h"
#include "firmware/PrinterReadyJob.h"
#include "port/PrinterConnection.h"

#include <atomic>
#include <memory>

class ReadyWithConnection final : public StepJob {
public:
    ReadyWithConnection(std::unique_ptr<PrinterConnection> connection, Clock& clock, PrinterReadyOptions options,
                        std::shared_ptr<std::atomic<int>> result)
        : m_connection(std::move(connection)), m_job(*m_connection, clock, options), m_result(std::move(result))
    {
    }
    StepResult step() override
    {
        StepResult r = m_job.step();
        m_result->store(static_cast<int>(m_job.result()));
        return r;
    }
    void cancel() override { m_job.cancel(); }

private:
    std::unique_ptr<PrinterConnection> m_connection; // declared first: outlives m_job
    PrinterReadyJob m_job;
    std::shared_ptr<std::atomic<int>> m_result;
};
