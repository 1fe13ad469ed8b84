-- The shared history of runs on a PostgreSQL server: schema version 1.
--
-- Applied by `kestro-upgrade history --init-server CONNINFO` as a database owner (or by psql -f),
-- any number of times: each statement leaves what is there alone. One row per run, its run id
-- the key, so that a bench that sends a run again changes nothing. Two roles, given to login
-- users by the shop: kestro_bench (adds runs and reads them, never changes or removes one) and
-- kestro_report (reads only).
--
-- The radio's own texts (serial number, model, versions, the message that ended the run) are
-- kept as bytes (bytea): a radio may answer with bytes that are no valid text, and the serial is
-- compared byte for byte. The view kestro.run_list shows them as text for a person reading.

BEGIN;

CREATE SCHEMA IF NOT EXISTS kestro;

CREATE TABLE IF NOT EXISTS kestro.schema_version (version integer NOT NULL);
INSERT INTO kestro.schema_version (version)
  SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM kestro.schema_version);

DO $$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'kestro_bench') THEN
    CREATE ROLE kestro_bench NOLOGIN;
  END IF;
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'kestro_report') THEN
    CREATE ROLE kestro_report NOLOGIN;
  END IF;
END
$$;

CREATE TABLE IF NOT EXISTS kestro.runs (
  seq               bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  run_id            text NOT NULL UNIQUE,
  started           timestamptz NOT NULL,
  ended             timestamptz NOT NULL,
  front_end         text NOT NULL,
  pc_name           text NOT NULL,
  kit_version       text NOT NULL,
  firmware_file     text NOT NULL,
  firmware_sha256   text NOT NULL,
  port              text NOT NULL,
  cable             text NOT NULL,
  serial            bytea NOT NULL,
  model             bytea NOT NULL,
  version_before    bytea NOT NULL,
  codeplug_restored text NOT NULL,
  kind              text NOT NULL,
  message           bytea NOT NULL,
  version_after     bytea NOT NULL,
  rows_written      bigint NOT NULL,
  duration_ms       bigint NOT NULL,
  received          timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX IF NOT EXISTS runs_by_serial ON kestro.runs (serial, started);
CREATE INDEX IF NOT EXISTS runs_by_start ON kestro.runs (started);

CREATE OR REPLACE VIEW kestro.run_list AS
  SELECT run_id, started, ended, pc_name, front_end, port,
         encode(serial, 'escape') AS serial, encode(model, 'escape') AS model,
         encode(version_before, 'escape') AS version_before, kind,
         encode(version_after, 'escape') AS version_after, encode(message, 'escape') AS message,
         duration_ms
    FROM kestro.runs;

REVOKE ALL ON SCHEMA kestro FROM PUBLIC;
REVOKE ALL ON ALL TABLES IN SCHEMA kestro FROM PUBLIC;
GRANT USAGE ON SCHEMA kestro TO kestro_bench, kestro_report;
GRANT SELECT, INSERT ON kestro.runs TO kestro_bench;
GRANT SELECT ON kestro.runs, kestro.run_list, kestro.schema_version TO kestro_bench, kestro_report;

COMMIT;
