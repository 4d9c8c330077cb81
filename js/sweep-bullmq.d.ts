// Declarations of barwise/sweep-bullmq.
import type { SweepResult, SweepRequest } from '../index';

export interface BullmqSweepOptions {
  /** BullMQ's connection: Redis options or a client instance. */
  connection: unknown;
  /** Default "barwise-sweep"; series are stored in "<queueName>-series". */
  queueName?: string;
  prefix?: string;
  /** Parameter sets per job (default 16). */
  chunkSize?: number;
  /** Attempts per job (default 3). */
  attempts?: number;
}

/** Runs the sweep as BullMQ jobs; resolves to what `sweep` resolves to, with the sweep's id. */
export declare function runSweep(
  request: SweepRequest,
  options: BullmqSweepOptions,
): Promise<SweepResult & { sweepId: string; jobs: number }>;

/** A BullMQ worker running the jobs of sweeps; `close()` it to stop. */
export declare function startWorker(options: {
  connection: unknown;
  queueName?: string;
  prefix?: string;
  concurrency?: number;
}): { close(): Promise<void>; waitUntilReady(): Promise<unknown> };
