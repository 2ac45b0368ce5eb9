-- Prepares a PostgreSQL database (version 14 or later) to hold the keyword list that Vorelta
-- shares across an office. Run it as a superuser, or as the database's owner with the right to
-- create roles, while connected to the keyword database:
--
--     psql -d keywords -f setup.sql
--
-- It may be run again: what exists already is kept, keywords included.
--
-- Access goes through two group roles that cannot log in themselves; give each person a login
-- role of their own in one of them, so that a password can be changed or withdrawn per person:
--
--     CREATE ROLE alice LOGIN PASSWORD 'change me' IN ROLE vorelta_editor;  -- may edit keywords
--     CREATE ROLE bob   LOGIN PASSWORD 'change me' IN ROLE vorelta_reader;  -- checks messages
--
--     GRANT vorelta_editor TO bob;     -- later: bob may edit too
--     REVOKE vorelta_editor FROM bob;
--
-- Each Vorelta then names its server in the file vorelta.conf beside the program:
--
--     [keywords]
--     database=postgresql://alice@db.example.org/keywords
--
-- A password is better kept in the user's libpq password file (~/.pgpass, mode 0600) than in
-- vorelta.conf.

\set ON_ERROR_STOP on

BEGIN;

-- Keywords come in every script a message may hold: a database in another encoding would refuse
-- some of them. Make the database anew with ENCODING 'UTF8' (and TEMPLATE template0).
DO $$
BEGIN
    IF pg_catalog.getdatabaseencoding() <> 'UTF8' THEN
        RAISE EXCEPTION 'database % uses the encoding %, which cannot hold every keyword',
            current_database(), pg_catalog.getdatabaseencoding()
            USING HINT = 'Create the keyword database with ENCODING ''UTF8'' TEMPLATE template0.';
    END IF;
END
$$;

-- The keyword list: one keyword a row, as in key.mdb.
CREATE TABLE IF NOT EXISTS public.keys (keyname text);

-- Counts the committed changes, so that an insert that had to wait for another one's lock can
-- tell whether the list changed meanwhile without reading it all again. A table, not a sequence:
-- a change that is rolled back, or not yet committed, must not count.
CREATE TABLE IF NOT EXISTS public.vorelta_keys_version (changes bigint NOT NULL);
INSERT INTO public.vorelta_keys_version
    SELECT 0 WHERE NOT EXISTS (SELECT FROM public.vorelta_keys_version);

-- Counts every change, once a statement whatever the number of rows: before each check Vorelta
-- reads the count (with the table's identity) and reads the list again only when it moved. The
-- notification on vorelta_keys is for other tools; Vorelta does not rely on it.
CREATE OR REPLACE FUNCTION public.vorelta_keys_notify() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $$
BEGIN
    UPDATE public.vorelta_keys_version SET changes = changes + 1;
    PERFORM pg_notify('vorelta_keys', '');
    RETURN NULL;
END
$$;

CREATE OR REPLACE TRIGGER vorelta_keys_changed
    AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON public.keys
    FOR EACH STATEMENT EXECUTE FUNCTION public.vorelta_keys_notify();
-- Always: also in sessions that replicate or restore with session_replication_role = replica.
ALTER TABLE public.keys ENABLE ALWAYS TRIGGER vorelta_keys_changed;

-- A table dropped and made again fires no trigger of its own (its triggers go with it): an
-- event trigger tells the programs of every change of the database's tables. Only a superuser
-- may make one; without it Vorelta trusts its list only while nothing at all was committed on
-- the server since it read it, and otherwise reads it anew, which is exact but slower.
CREATE OR REPLACE FUNCTION public.vorelta_keys_ddl_notify() RETURNS event_trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $$
BEGIN
    UPDATE public.vorelta_keys_version SET changes = changes + 1;
    PERFORM pg_notify('vorelta_keys', '');
END
$$;

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_catalog.pg_event_trigger WHERE evtname = 'vorelta_keys_ddl') THEN
        CREATE EVENT TRIGGER vorelta_keys_ddl ON ddl_command_end
            EXECUTE FUNCTION public.vorelta_keys_ddl_notify();
    END IF;
    ALTER EVENT TRIGGER vorelta_keys_ddl ENABLE ALWAYS;
EXCEPTION WHEN insufficient_privilege THEN
    RAISE NOTICE 'not a superuser: no event trigger, so Vorelta reads the list anew after any commit';
END
$$;

-- Roles belong to the whole server, so they may exist already from another keyword database.
DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'vorelta_editor') THEN
        CREATE ROLE vorelta_editor NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'vorelta_reader') THEN
        CREATE ROLE vorelta_reader NOLOGIN;
    END IF;
END
$$;

COMMENT ON ROLE vorelta_editor IS 'Vorelta users who may add, change and delete keywords';
COMMENT ON ROLE vorelta_reader IS 'Vorelta users who check messages against the keywords';

-- Nobody else reads the list; the grants hold even where PUBLIC has lost its default rights to
-- connect and to use the schema.
REVOKE ALL ON public.keys FROM PUBLIC;
GRANT SELECT, INSERT, UPDATE, DELETE ON public.keys TO vorelta_editor;
GRANT SELECT ON public.keys TO vorelta_reader;
REVOKE ALL ON public.vorelta_keys_version FROM PUBLIC;
GRANT SELECT ON public.vorelta_keys_version TO vorelta_editor, vorelta_reader;
GRANT USAGE ON SCHEMA public TO vorelta_editor, vorelta_reader;

DO $$
BEGIN
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO vorelta_editor, vorelta_reader',
                   current_database());
END
$$;

COMMIT;
